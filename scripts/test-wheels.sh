#!/bin/sh
# Installs the wheels of OUTDIR (scripts/build-wheels.sh) as a user would,
#   pip install --no-index --only-binary :all: --find-links OUTDIR tovra_api
# each on its own architecture, where nothing can be compiled (no compiler,
# CMake or zig on PATH), and runs the test suite in tests/ against it:
#   x86_64   CPython 3.12 and 3.13 here, 3.14 and 3.15 in the amd64 sid root
#   i686     CPython 3.13, 3.14 and 3.15 in the i386 sid root
#   aarch64  CPython 3.13, 3.14 and 3.15 in the arm64 sid root, every program
#            under qemu-user: the whole suite on 3.14, and on 3.13 and 3.15
#            the tests of the byte format, the conversions and the rules.
#            ARM64_FULL=1 runs the whole suite on all three. Emulated, an
#            example of a property test costs some fifty times what it costs
#            natively, so these runs take a fifth of the examples
#            (TOVRA_TEST_EFFORT=0.2; every test still runs).
# The aarch64 runs, one emulated core each, go beside the others.
# Needs root (the Debian roots).
#
#   scripts/test-wheels.sh OUTDIR [ARCH...]   (default: x86_64 i686 aarch64)
set -eu
[ $# -ge 1 ] || { echo "usage: scripts/test-wheels.sh OUTDIR [ARCH...]" >&2; exit 2; }
cd "$(dirname "$0")/.."
checkout=$PWD
wheels=$(cd "$1" && pwd)
shift
[ $# -gt 0 ] || set -- x86_64 i686 aarch64
unset PYTHON || true
work=$checkout/build/wheel-tests-$(echo "$*" | tr ' ' -)
rm -rf "$work"
mkdir -p "$work"
. scripts/debian-root.sh

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
shift
[ $# -gt 0 ] || set -- .
TOVRA_TEST_EFFORT=$effort /opt/$venv/bin/python -m pytest -q -p no:cacheprovider "$@"'

# The tests of the byte format, the conversions and the rules.
core_tests="test_bytes.py,test_conversions.py,test_diff_rules.py"

# The wheels tested on one architecture; prints what failed, if anything.
test_arch() {
    test_failed=""
    effort=1
    case $1 in
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
            ) || test_failed="$test_failed x86_64-$version"
        done
        sid_arch=amd64
        runs="venv-3.14:. venv-3.15:."
        ;;
    i686)
        sid_arch=i386
        runs="venv-3.13:. venv-3.14:. venv-3.15:."
        ;;
    aarch64)
        sid_arch=arm64
        effort=${TOVRA_TEST_EFFORT:-0.2}
        if [ -n "${ARM64_FULL:-}" ]; then
            runs="venv-3.14:. venv-3.13:. venv-3.15:."
        else
            runs="venv-3.14:. venv-3.13:$core_tests venv-3.15:$core_tests"
        fi
        ;;
    *) echo "no wheel tests for $1 here" >&2; return 2 ;;
    esac
    . scripts/sid-root.sh
    root_ensure
    root_copy_tree "$checkout"
    mkdir -p "$root_dir/wheels"
    rm -f "$root_dir"/wheels/*
    cp "$wheels"/*.whl "$root_dir/wheels/"
    for run in $runs; do
        venv=${run%%:*}
        tests=$(echo "${run#*:}" | tr , ' ')
        # shellcheck disable=SC2086
        root_run "effort=$effort; $no_compiler_script; $install_and_test_script" test-wheels "$venv" $tests \
            || test_failed="$test_failed $1-$venv"
    done
    echo "$test_failed" >"$work/failed-$1"
}

# aarch64 in the background, in its own shell (its root's settings and mounts
# stay its own), its output shown when it ends.
background=""
for arch in "$@"; do
    if [ "$arch" = aarch64 ]; then
        ( trap root_unmount EXIT; test_arch aarch64 ) >"$work/aarch64.log" 2>&1 &
        background=$!
    fi
done
for arch in "$@"; do
    if [ "$arch" != aarch64 ]; then
        ( trap root_unmount EXIT; test_arch "$arch" )
    fi
done
if [ -n "$background" ]; then
    wait "$background" || echo " aarch64" >>"$work/failed-aarch64"
    cat "$work/aarch64.log"
fi
failed=$(cat "$work"/failed-* 2>/dev/null | tr '\n' ' ' | tr -s ' ')
failed=${failed% }
if [ -n "${failed# }" ]; then
    echo "wheel tests failed on: ${failed# }" >&2
    exit 1
fi
echo "== wheel tests passed"
