#!/bin/sh
# Installs the wheels of OUTDIR (scripts/build-wheels.sh) as a user would,
#   pip install --no-index --only-binary :all: --find-links OUTDIR tovra_api
# each on its own architecture, where nothing can be compiled (no compiler,
# CMake or zig on PATH), and runs the test suite in tests/ against it:
#   x86_64   CPython 3.12 and 3.13 here, 3.14 and 3.15 in the sid root
#   i686     the i386 root
#   aarch64  the arm64 root, every program under qemu-user
# Needs root (the Debian roots).
#
#   scripts/test-wheels.sh OUTDIR [ARCH...]   (default: x86_64 i686 aarch64)
# The whole suite everywhere: under emulation it takes about ten minutes.
set -eu
[ $# -ge 1 ] || { echo "usage: scripts/test-wheels.sh OUTDIR [ARCH...]" >&2; exit 2; }
cd "$(dirname "$0")/.."
checkout=$PWD
wheels=$(cd "$1" && pwd)
shift
[ $# -gt 0 ] || set -- x86_64 i686 aarch64
unset PYTHON || true
work=$checkout/build/wheel-tests
rm -rf "$work"
mkdir -p "$work"

# What a compiler would be called, each one failing: with --only-binary a
# build should not start, and if anything tries, it cannot.
no_compiler_script='mkdir -p /tmp/no-compiler
for tool in cc c++ gcc g++ clang clang++ cmake ninja zig; do ln -sf /bin/false /tmp/no-compiler/$tool; done
export PATH=/tmp/no-compiler:$PATH CC=/bin/false CXX=/bin/false'
# In a root: the wheels at /wheels, the checkout at /src; $1 the venv under
# /opt.
install_and_test_script='/opt/$1/bin/python -m pip uninstall -q -y tovra_api >/dev/null 2>&1 || true
/opt/$1/bin/python -m pip install -q --disable-pip-version-check --no-index --only-binary :all: \
    --find-links /wheels tovra_api
venv=$1
cd tests
echo "== wheel tests on $(/opt/$venv/bin/python -c "import platform, tovra_api; print(platform.machine(), \"CPython\", platform.python_version(), tovra_api.__file__)")"
/opt/$venv/bin/python -m pytest -q -p no:cacheprovider .'

failed=""
for arch in "$@"; do
    case $arch in
    x86_64)
        for version in 3.12 3.13; do
            venv=$work/venv-$version
            "$(scripts/find-python.sh "$version")" -m venv "$venv"
            "$venv/bin/python" -m pip install -q --disable-pip-version-check pytest hypothesis networkx numpy
            (
                eval "$(echo "$no_compiler_script" | sed "s|/tmp/no-compiler|$work/no-compiler|g")"
                "$venv/bin/python" -m pip install -q --disable-pip-version-check --no-index --only-binary :all: \
                    --find-links "$wheels" tovra_api
                cd tests
                echo "== wheel tests on $("$venv/bin/python" -c 'import platform, tovra_api; print(platform.machine(), "CPython", platform.python_version(), tovra_api.__file__)')"
                "$venv/bin/python" -m pytest -q -p no:cacheprovider .
            ) || failed="$failed x86_64-$version"
        done
        . scripts/sid-root.sh
        venvs="venv-3.14 venv-3.15"
        ;;
    i686) . scripts/i386-root.sh; venvs=venv ;;
    aarch64)
        . scripts/arm64-root.sh
        emulation_ensure
        venvs=venv
        ;;
    *) echo "no wheel tests for $arch here" >&2; exit 2 ;;
    esac
    root_ensure
    root_copy_tree "$checkout"
    mkdir -p "$root_dir/wheels"
    rm -f "$root_dir"/wheels/*
    cp "$wheels"/*.whl "$root_dir/wheels/"
    for venv in $venvs; do
        root_run "$no_compiler_script; $install_and_test_script" test-wheels "$venv" || failed="$failed $arch-$venv"
    done
done
if [ -n "$failed" ]; then
    echo "wheel tests failed on:$failed" >&2
    exit 1
fi
echo "== wheel tests passed"
