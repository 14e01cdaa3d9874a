#!/bin/sh
# Builds, from the sdist, every wheel this machine can make and test, into
# OUTDIR (with the sdist itself):
#   x86_64  cp312, cp313 (this machine), cp314, cp315 (the amd64 sid root)
#   i686    cp313, cp314, cp315 (the i386 sid root)
#   aarch64 cp313, cp314, cp315 (the arm64 sid root, under qemu-user)
# and checks each with auditwheel to manylinux_2_17 (manylinux2014), and all
# of them with twine check. Needs root (the Debian roots).
#
# How: where a g++ runs natively (this machine, the amd64 and i386 roots), it
# compiles the module, so the wheel runs the code the project is tuned with,
# and scripts/wheel-link.sh links it with zig against glibc 2.17's symbols,
# libstdc++ static. In the arm64 root a g++ would run emulated, ten times
# slower, so zig compiles there too (clang, with its libc++ static); zig is an
# x86_64 static binary and runs natively inside that root. Nothing but glibc,
# libgcc_s and CPython is asked of the system at run time. The aarch64 builds,
# mostly an emulated pip and CMake on one core, run beside the others.
#
# g++ builds with warnings as errors, as every other build of the project.
#
#   scripts/build-wheels.sh OUTDIR [ARCH...]   (default: x86_64 i686 aarch64)
# The sdist in OUTDIR is the one built from, made first when OUTDIR has none;
# the wheels of the architectures named are replaced, the others kept. Runs
# for different architectures may share an OUTDIR once it has its sdist.
set -eu
[ $# -ge 1 ] || { echo "usage: scripts/build-wheels.sh OUTDIR [ARCH...]" >&2; exit 2; }
cd "$(dirname "$0")/.."
checkout=$PWD
mkdir -p "$1"
out=$(cd "$1" && pwd)
shift
unset PYTHON || true
arches=${*:-x86_64 i686 aarch64}
. scripts/zig-tools.sh
. scripts/debian-root.sh
work=$checkout/build/wheels-$(echo "$arches" | tr ' ' -)
rm -rf "$work"
for arch in $arches; do
    rm -f "$out"/tovra_api-*_"$arch".whl
done
mkdir -p "$work/raw"
CMAKE_BUILD_PARALLEL_LEVEL=${CMAKE_BUILD_PARALLEL_LEVEL:-2}
export CMAKE_BUILD_PARALLEL_LEVEL
werror=--config-settings=cmake.define.TOVRA_WERROR=ON

if ! ls "$out"/tovra_api-*.tar.gz >/dev/null 2>&1; then
    echo "== sdist"
    "$TOVRA_TOOLS/bin/python" -m build --sdist --outdir "$out" . >"$work/sdist.log" 2>&1 \
        || { cat "$work/sdist.log" >&2; exit 1; }
fi
sdist=$(ls "$out"/tovra_api-*.tar.gz)
basename "$sdist"

linked_by_zig() {
    echo "--config-settings=cmake.define.CMAKE_CXX_LINKER_LAUNCHER=$1/scripts/wheel-link.sh"
}

# Runs the script $1 in the root at $root_dir, from /src, which holds the
# checkout and the sdist, with zig at its own path; the script gets the
# sdist's name as $1 and the rest of the arguments after it, and leaves its
# wheels in /src/wheels.
in_root_with_zig() {
    root_ensure
    root_copy_tree "$checkout"
    cp "$sdist" "$root_dir/src/"
    mkdir -p "$root_dir/src/wheels"
    zig_bind_into_root "$root_dir"
    script=$1
    shift
    root_run "export TOVRA_ZIG=$TOVRA_ZIG ZIG_GLOBAL_CACHE_DIR=$ZIG_GLOBAL_CACHE_DIR \
        CMAKE_BUILD_PARALLEL_LEVEL=$CMAKE_BUILD_PARALLEL_LEVEL; $script" build-wheels "$(basename "$sdist")" "$@"
    cp "$root_dir"/src/wheels/*.whl "$work/raw/"
}

# The wheels for one architecture, into $work/raw.
# In the root of $sid_arch, its g++ builds a wheel for each version of $2,
# linked by zig against the glibc of target $1.
gxx_wheels_in_root() {
    in_root_with_zig '
for version in $4; do
    TOVRA_WHEEL_GLIBC_TARGET=$5 /opt/venv-$version/bin/python -m pip wheel -q \
        --disable-pip-version-check --no-build-isolation --no-cache-dir --no-deps --wheel-dir wheels \
        "$2" "$3" --config-settings=build-dir=/tmp/wheel-$version "$1" >/tmp/wheel.log 2>&1 \
        || { cat /tmp/wheel.log; exit 1; }
done' "$(linked_by_zig /src)" "$werror" "$2" "$1"
}

build_arch() {
    case $1 in
    x86_64)
        for version in 3.12 3.13; do
            echo "== x86_64 wheel for CPython $version"
            venv=$work/venv-$version
            "$(scripts/find-python.sh "$version")" -m venv "$venv"
            TOVRA_WHEEL_GLIBC_TARGET=x86_64-linux-gnu.2.17 "$venv/bin/python" -m pip wheel -q \
                --disable-pip-version-check --no-cache-dir --no-deps --wheel-dir "$work/raw" \
                "$(linked_by_zig "$checkout")" "$werror" --config-settings=build-dir="$work/build-$version" "$sdist"
        done
        echo "== x86_64 wheels for CPython 3.14 and 3.15, in the amd64 sid root"
        sid_arch=amd64
        . scripts/sid-root.sh
        gxx_wheels_in_root x86_64-linux-gnu.2.17 "3.14 3.15"
        ;;
    i686)
        echo "== i686 wheels for CPython 3.13, 3.14 and 3.15, in the i386 sid root"
        sid_arch=i386
        . scripts/sid-root.sh
        gxx_wheels_in_root x86-linux-gnu.2.17 "3.13 3.14 3.15"
        ;;
    aarch64)
        echo "== aarch64 wheels for CPython 3.13, 3.14 and 3.15, in the arm64 sid root under qemu-user"
        sid_arch=arm64
        . scripts/sid-root.sh
        # zig compiles and links; -fomit-frame-pointer as g++ does by default.
        # Debian keeps pyconfig.h under /usr/include/aarch64-linux-gnu, which
        # zig, with glibc headers of its own, does not search; after them, it
        # may.
        in_root_with_zig '
mkdir -p /tmp/zig
for tool in c++ ar ranlib; do
    case $tool in c++) args="c++ -target aarch64-linux-gnu.2.17 -idirafter /usr/include" ;; *) args=$tool ;; esac
    printf "#!/bin/sh\nexec %s %s \"\$@\"\n" "$TOVRA_ZIG" "$args" >/tmp/zig/$tool
    chmod +x /tmp/zig/$tool
done
for version in 3.13 3.14 3.15; do
    CXX=/tmp/zig/c++ /opt/venv-$version/bin/python -m pip wheel -q --disable-pip-version-check --no-build-isolation \
        --no-cache-dir --no-deps --wheel-dir wheels --config-settings=build-dir=/tmp/wheel-$version \
        --config-settings=cmake.define.CMAKE_AR=/tmp/zig/ar --config-settings=cmake.define.CMAKE_RANLIB=/tmp/zig/ranlib \
        --config-settings=cmake.define.CMAKE_CXX_FLAGS=-fomit-frame-pointer \
        --config-settings=cmake.define.CMAKE_MODULE_LINKER_FLAGS=-s "$1" >/tmp/wheel.log 2>&1 \
        || { cat /tmp/wheel.log; exit 1; }
done'
        ;;
    *) echo "no wheels for $1 here" >&2; return 2 ;;
    esac
}

# aarch64 in the background (its own shell, so its root's settings and
# mounts stay its own), its output shown when it ends.
background=""
for arch in $arches; do
    if [ "$arch" = aarch64 ]; then
        ( trap root_unmount EXIT; build_arch aarch64 ) >"$work/aarch64.log" 2>&1 &
        background=$!
    fi
done
for arch in $arches; do
    if [ "$arch" != aarch64 ]; then
        ( trap root_unmount EXIT; build_arch "$arch" )
    fi
done
if [ -n "$background" ]; then
    status=0
    wait "$background" || status=$?
    cat "$work/aarch64.log"
    [ "$status" -eq 0 ] || { echo "the aarch64 wheels failed" >&2; exit 1; }
fi

echo "== auditwheel"
# auto: the oldest tag the module allows, which must be manylinux_2_17 or
# older (auditwheel only names this machine's architecture in its choices).
for wheel in "$work"/raw/*.whl; do
    PATH="$TOVRA_TOOLS/bin:$PATH" "$TOVRA_TOOLS/bin/auditwheel" repair --plat auto --wheel-dir "$out" "$wheel" \
        >"$work/auditwheel.log" 2>&1 || { cat "$work/auditwheel.log" >&2; exit 1; }
done
# This run's wheels: another run may be adding its own beside them.
built=""
for arch in $arches; do
    built="$built $(ls "$out"/tovra_api-*_"$arch".whl | tr '\n' ' ')"
done
for wheel in $built; do
    glibc_minor=$(basename "$wheel" | sed -n 's/.*manylinux_2_\([0-9]*\)_.*/\1/p')
    if [ -z "$glibc_minor" ] || [ "$glibc_minor" -gt 17 ]; then
        echo "$(basename "$wheel"): not manylinux_2_17 or older" >&2
        exit 1
    fi
done
# auditwheel reads symbol versions only: a glibc symbol left without one
# would bind to whatever the system has, or to nothing on an old one.
"$TOVRA_TOOLS/bin/python" scripts/check_wheel_symbols.py $built
"$TOVRA_TOOLS/bin/twine" check --strict $built "$sdist"
echo "== wheels in $out"
for wheel in $built; do
    tag=$("$TOVRA_TOOLS/bin/auditwheel" show "$wheel" 2>/dev/null | tr -d '\n' | sed -n 's/.*platform tag: *"\([^"]*\)".*/\1/p')
    printf '%-72s %-24s %8s bytes\n' "$(basename "$wheel")" "$tag" "$(wc -c <"$wheel")"
done
printf '%-72s %-24s %8s bytes\n' "$(basename "$sdist")" sdist "$(wc -c <"$sdist")"
