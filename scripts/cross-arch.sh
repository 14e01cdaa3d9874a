#!/bin/sh
# Byte identity across architectures. Builds tools/cross_arch_bytes with zig
# for x86_64, i686, aarch64 and s390x (big endian), static against musl, so
# that qemu-user runs the foreign ones without a root; has each write the
# bytes of the same fixed sequence of operations; then compares those bytes
# across the architectures, and has each one's decoder list every
# architecture's bytes, which must all list alike. Builds and runs the C++
# core tests too, on i686 (32 bits) and s390x (big endian) by default: on
# x86_64 scripts/test.sh runs them, and aarch64 is a 64-bit little-endian
# machine like it, whose wheels run the Python suite (scripts/test-wheels.sh).
# A zig build of the core tests takes minutes; CROSS_CORE_TESTS="x86_64 i686
# aarch64 s390x" runs them on all four. Needs root for qemu-user (apt-get), or
# qemu-user-static installed.
#
#   scripts/cross-arch.sh
# The last line names the architectures compared and says whether they were
# identical.
set -eu
cd "$(dirname "$0")/.."
. scripts/zig-tools.sh
if [ ! -x /usr/bin/qemu-s390x-static ] || [ ! -x /usr/bin/qemu-aarch64-static ]; then
    apt-get update -qq && DEBIAN_FRONTEND=noninteractive apt-get install -y -qq qemu-user-static >/dev/null
fi
work=build/cross-arch
rm -rf "$work/out"
mkdir -p "$work/out"
arches="x86_64 i686 aarch64 s390x"
core_test_arches=${CROSS_CORE_TESTS:-"i686 s390x"}

# clang takes musl's i386 operator new to align to 4 bytes only, which the
# core's tables refuse at compile time (their entries align to 8); musl's
# malloc aligns every block to 16 there, as glibc's does, and says so here.
zig_target() {
    case $1 in
        i686) echo "x86-linux-musl -fnew-alignment=16" ;;
        *) echo "$1-linux-musl" ;;
    esac
}
# Runs a program built for $1 on this machine: natively for the x86 ones.
run_on() {
    run_arch=$1
    shift
    case $run_arch in
        x86_64|i686) "$@" ;;
        *) "/usr/bin/qemu-$run_arch-static" "$@" ;;
    esac
}

for arch in $arches; do
    build=$work/$arch
    targets=""
    case " $core_test_arches " in *" $arch "*) targets=core_tests ;; esac
    mkdir -p "$build"
    compiler=$PWD/$build/c++
    printf '#!/bin/sh\nexec "%s" c++ -target %s "$@"\n' "$TOVRA_ZIG" "$(zig_target "$arch")" >"$compiler"
    printf '#!/bin/sh\nexec "%s" %s "$@"\n' "$TOVRA_ZIG" ar >"$build/ar"
    printf '#!/bin/sh\nexec "%s" %s "$@"\n' "$TOVRA_ZIG" ranlib >"$build/ranlib"
    chmod +x "$compiler" "$build/ar" "$build/ranlib"
    if ! { "$TOVRA_TOOLS/bin/python" -m pip show -q cmake >/dev/null 2>&1 \
            || "$TOVRA_TOOLS/bin/python" -m pip install -q --disable-pip-version-check cmake ninja; } \
        || ! PATH="$TOVRA_TOOLS/bin:$PATH" cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release \
            -DCMAKE_SYSTEM_NAME=Linux -DCMAKE_SYSTEM_PROCESSOR="$arch" \
            -DCMAKE_CXX_COMPILER="$compiler" -DCMAKE_AR="$PWD/$build/ar" -DCMAKE_RANLIB="$PWD/$build/ranlib" \
            -DCMAKE_EXE_LINKER_FLAGS=-static -DTOVRA_BUILD_EXTENSION=OFF -DTOVRA_BUILD_CORE_TESTS=ON \
            -DTOVRA_BUILD_TOOLS=ON -DTOVRA_WERROR=ON >"$build/build.log" 2>&1 \
        || ! PATH="$TOVRA_TOOLS/bin:$PATH" ninja -C "$build" $targets cross_arch_bytes >>"$build/build.log" 2>&1; then
        cat "$build/build.log" >&2
        echo "the $arch build failed" >&2
        exit 1
    fi
    if [ -n "$targets" ]; then
        echo "== core tests on $arch ($(file -b "$build/core_tests" | cut -d, -f1-2))"
        run_on "$arch" "$build/core_tests"
    fi
    run_on "$arch" "$build/cross_arch_bytes" write "$work/out/$arch.bin"
done

# Every architecture's bytes against the first's, then every decoder on every
# architecture's bytes against the first decoder on the first bytes.
first=${arches%% *}
same=yes
for arch in $arches; do
    size=$(wc -c <"$work/out/$arch.bin")
    if cmp -s "$work/out/$first.bin" "$work/out/$arch.bin"; then
        echo "$arch: $size bytes, $(sha256sum <"$work/out/$arch.bin" | cut -c1-16), the same as $first"
    else
        echo "$arch: $size bytes, $(sha256sum <"$work/out/$arch.bin" | cut -c1-16), DIFFERENT from $first"
        same=no
    fi
done
run_on "$first" "$work/$first/cross_arch_bytes" list "$work/out/$first.bin" >"$work/out/listing"
lines=$(wc -l <"$work/out/listing")
for decoder in $arches; do
    for bytes in $arches; do
        if ! run_on "$decoder" "$work/$decoder/cross_arch_bytes" list "$work/out/$bytes.bin" \
                >"$work/out/listing-$decoder-$bytes" \
            || ! cmp -s "$work/out/listing" "$work/out/listing-$decoder-$bytes"; then
            echo "$decoder lists the bytes of $bytes differently (see $work/out/listing-$decoder-$bytes)"
            same=no
        fi
    done
done
echo "each decoder listed each architecture's bytes: $lines lines"
if [ "$same" = yes ]; then
    echo "cross-arch: $(echo "$arches" | sed 's/ /, /g'): identical"
else
    echo "cross-arch: $(echo "$arches" | sed 's/ /, /g'): NOT identical"
    exit 1
fi
