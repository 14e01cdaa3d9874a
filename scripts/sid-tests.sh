#!/bin/sh
# Runs the C++ unit tests of the core (built by the root's g++, warnings as
# errors) and the Python test suite against the module built there, in a
# Debian sid root (see scripts/sid-root.sh):
#   amd64 (default)  CPython 3.14, 3.15 and the 3.14 debug build; the debug
#                    build runs with -X dev, and there the suite's
#                    reference-leak checks run too (they skip on release builds)
#   i386             CPython 3.13, 3.14 and 3.15, 32 bits (C long and pointers)
# Needs root.
#
#   scripts/sid-tests.sh [PYTEST ARGS...]   (run from tests/; default: all)
#
# SID_ARCH picks the root (amd64 or i386), SID_PYTHONS the interpreters, e.g.
# SID_PYTHONS=3.14d, or SID_ARCH=i386 SID_PYTHONS=3.14.
set -eu
cd "$(dirname "$0")/.."
checkout=$PWD
sid_arch=${SID_ARCH:-amd64}
. scripts/sid-root.sh
root_ensure
root_copy_tree "$checkout"

# pytest's closing line is printed for each interpreter; the builds are kept
# quiet unless they fail.
root_run '
cmake -S . -B build/core-tests -G Ninja -DCMAKE_BUILD_TYPE=Debug -DTOVRA_BUILD_EXTENSION=OFF \
    -DTOVRA_BUILD_CORE_TESTS=ON -DTOVRA_WERROR=ON >/tmp/core.log 2>&1 \
    && ninja -C build/core-tests >>/tmp/core.log 2>&1 || { cat /tmp/core.log; exit 1; }
echo "== core tests built by $(g++ --version | head -n 1)"
build/core-tests/core_tests
pythons=$1
shift
[ $# -gt 0 ] || set -- .
failed=""
for version in $pythons; do
    venv=/opt/venv-$version
    dev=""
    case $version in *d) dev="-X dev" ;; esac
    echo "== tests on $($venv/bin/python -c "import sys; import platform; print(sys.version.split()[0], platform.machine(), \"debug build\" if hasattr(sys, \"gettotalrefcount\") else \"\")") $dev"
    $venv/bin/python -m pip install -q --disable-pip-version-check --no-build-isolation --no-deps \
        --config-settings=cmake.define.TOVRA_WERROR=ON --config-settings="build-dir=build/{wheel_tag}" \
        . >/tmp/build.log 2>&1 || { cat /tmp/build.log; exit 1; }
    (cd tests && $venv/bin/python $dev -m pytest -q -p no:cacheprovider "$@") || failed="$failed $version"
done
if [ -n "$failed" ]; then
    echo "tests failed on:$failed" >&2
    exit 1
fi
' sid-tests "$sid_pythons" "$@"
