#!/bin/sh
# CMake's linker launcher for the wheels' module (CMAKE_CXX_LINKER_LAUNCHER):
# the objects come from the build's g++, the link is zig's against the glibc
# stubs of $TOVRA_WHEEL_GLIBC_TARGET (e.g. x86_64-linux-gnu.2.17), so every
# glibc symbol binds to the version that old glibc has. libstdc++ goes in
# statically (the wheel cannot ask the system for a new one), and so do
# libgcc's arithmetic helpers, called from hot loops as they are in a plain
# g++ build; libgcc_s, its unwinder, stays shared (every glibc system has it,
# and the static unwinder asks for a newer glibc than the wheels allow); tools/wheel/old_glibc_compat.c makes up the few
# symbols that the static libstdc++ wants from a newer glibc.
#
#   wheel-link.sh COMPILER ARG...   (CMake's link command line)
# $TOVRA_ZIG is the command that runs zig.
set -eu
compiler=$1
shift
here=$(cd "$(dirname "$0")/.." && pwd)
libstdcxx=$("$compiler" -print-file-name=libstdc++.a)
libgcc=$("$compiler" -print-libgcc-file-name)
libgcc_s=$("$compiler" -print-file-name=libgcc_s.so.1)
[ -f "$libstdcxx" ] && [ -f "$libgcc_s" ] || {
    echo "wheel-link.sh: $compiler has no libstdc++.a or libgcc_s.so.1" >&2
    exit 1
}
# g++'s own flags that zig does not take.
for arg; do
    shift
    case $arg in
        -static-libstdc++|-static-libgcc) ;;
        *) set -- "$@" "$arg" ;;
    esac
done
exec $TOVRA_ZIG cc -target "$TOVRA_WHEEL_GLIBC_TARGET" "$@" \
    "$here/tools/wheel/old_glibc_compat.c" "$libstdcxx" "$libgcc" "$libgcc_s" -lm -lpthread -ldl -s
