#!/bin/sh
# Runs the C++ unit tests of the core and the Python test suite under a 32-bit
# x86 CPython (C long and pointers of 32 bits), in an i386 Debian trixie root.
#
# The root is made once with debootstrap from the Debian mirror that this
# machine's apt configuration names, then kept in $TOVRA_I386_ROOT (default
# /var/cache/tovra/i386-trixie, outside the checkout) and reused. Each run
# copies the working tree into it, builds the module there with the root's own
# g++, CMake and scikit-build-core, and runs the tests. Needs root.
#
#   scripts/i386-tests.sh [PYTEST ARGS...]   (run from tests/; default: all)
set -eu
cd "$(dirname "$0")/.."
checkout=$PWD
root=${TOVRA_I386_ROOT:-/var/cache/tovra/i386-trixie}
suite=trixie
packages="python3 python3-dev python3-venv python3-pytest python3-hypothesis python3-numpy python3-scikit-build-core g++ cmake ninja-build"
# Changes when the package list does, so an old root is made again.
stamp="$suite $packages"

# The first Debian archive (not its security archive) in the apt sources.
debian_mirror() {
    {
        cat /etc/apt/sources.list 2>/dev/null | awk '$1 == "deb" { for (i = 2; i <= NF; i++) if ($i ~ /:\/\//) { print $i; break } }'
        for file in /etc/apt/sources.list.d/*.sources; do
            [ -f "$file" ] || continue
            awk 'tolower($1) == "uris:" { for (i = 2; i <= NF; i++) print $i }' "$file"
        done
        for file in /etc/apt/sources.list.d/*.list; do
            [ -f "$file" ] || continue
            awk '$1 == "deb" { for (i = 2; i <= NF; i++) if ($i ~ /:\/\//) { print $i; break } }' "$file"
        done
    } | grep -E '/debian/?$' | head -n 1
}

# in_root DIR SCRIPT [NAME ARG...]: runs SCRIPT with /bin/sh inside DIR, in a
# clean environment (nothing of the host's Python or compiler settings).
in_root() {
    dir=$1
    script=$2
    shift 2
    setarch i686 chroot "$dir" /usr/bin/env -i PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin \
        HOME=/root LANG=C.UTF-8 DEBIAN_FRONTEND=noninteractive /bin/sh -c "$script" "$@"
}

mounted=""
mount_into() {
    for dir in proc sys dev/pts; do
        mkdir -p "$1/$dir"
    done
    mount -t proc proc "$1/proc" && mounted="$1/proc $mounted"
    mount -t sysfs sysfs "$1/sys" && mounted="$1/sys $mounted"
    mount -t devpts -o newinstance,ptmxmode=0666 devpts "$1/dev/pts" && mounted="$1/dev/pts $mounted"
}
unmount_all() {
    for dir in $mounted; do
        umount "$dir" 2>/dev/null || umount -l "$dir" 2>/dev/null || true
    done
    mounted=""
}
trap unmount_all EXIT
trap 'exit 130' INT TERM

if [ "$(cat "$root/.tovra-root" 2>/dev/null)" != "$stamp" ]; then
    echo "== making the i386 $suite root in $root"
    if ! command -v debootstrap >/dev/null 2>&1; then
        apt-get update -qq && DEBIAN_FRONTEND=noninteractive apt-get install -y -qq debootstrap >/dev/null
    fi
    mirror=$(debian_mirror)
    if [ -z "$mirror" ]; then
        echo "no Debian archive found in the apt sources" >&2
        exit 1
    fi
    echo "   mirror $mirror"
    fresh="$root.new"
    rm -rf "$fresh"
    mkdir -p "$(dirname "$root")"
    if ! debootstrap --arch=i386 --variant=minbase "$suite" "$fresh" "$mirror" >"$fresh.log" 2>&1; then
        tail -n 30 "$fresh.log" >&2
        echo "debootstrap failed; the whole log is in $fresh.log" >&2
        exit 1
    fi
    mount_into "$fresh"
    in_root "$fresh" "apt-get install -y -qq --no-install-recommends $packages >/dev/null \
        && apt-get clean && python3 -m venv --system-site-packages /opt/venv"
    unmount_all
    echo "$stamp" >"$fresh/.tovra-root"
    rm -rf "$root" "$fresh.log"
    mv "$fresh" "$root"
fi

# The working tree as it is, without builds, venvs or history.
rm -rf "$root/src"
mkdir -p "$root/src"
tar -C "$checkout" --exclude=./build --exclude='./.venv*' --exclude=./.git --exclude='__pycache__' \
    --exclude=.hypothesis --exclude=.pytest_cache -cf - . | tar -C "$root/src" -xf -

mount_into "$root"
# pytest's own closing line is printed as it is; everything before it is the
# build, kept quiet unless it fails.
in_root "$root" '
set -eu
cd /src
python3 -c "import struct, sys, platform; print(\"== i386 tests on Python\", platform.python_version(), platform.machine(), \"pointer bits\", 8 * struct.calcsize(\"P\"), \"long bits\", 8 * struct.calcsize(\"l\"))"
/opt/venv/bin/python -m pip install -q --disable-pip-version-check --no-build-isolation --no-deps --no-index \
    --config-settings=cmake.define.TOVRA_WERROR=ON . >/tmp/build.log 2>&1 || { cat /tmp/build.log; exit 1; }
cmake -S . -B build/core-tests -G Ninja -DCMAKE_BUILD_TYPE=Debug -DTOVRA_BUILD_EXTENSION=OFF \
    -DTOVRA_BUILD_CORE_TESTS=ON -DTOVRA_WERROR=ON >/dev/null
ninja -C build/core-tests >/dev/null
build/core-tests/core_tests
cd tests
[ $# -gt 0 ] || set -- .
/opt/venv/bin/python -m pytest -q -p no:cacheprovider "$@"
' i386-tests "$@"
