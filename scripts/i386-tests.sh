#!/bin/sh
# Runs the C++ unit tests of the core and the Python test suite under a 32-bit
# x86 CPython (C long and pointers of 32 bits), in the i386 Debian sid root.
#
# The root (scripts/sid-root.sh) is made once with debootstrap from the
# Debian mirror that this machine's apt configuration names, then kept outside
# the checkout and reused. Each run copies the working tree into it, builds
# the module there with the root's own g++, CMake and scikit-build-core, and
# runs the tests. Needs root.
#
#   scripts/i386-tests.sh [PYTEST ARGS...]   (run from tests/; default: all)
set -eu
cd "$(dirname "$0")/.."
checkout=$PWD
sid_arch=i386
. scripts/sid-root.sh
root_ensure
root_copy_tree "$checkout"

# pytest's own closing line is printed as it is; everything before it is the
# build, kept quiet unless it fails.
root_run '
/opt/venv-3.14/bin/python -c "import struct, sys, platform; print(\"== i386 tests on Python\", platform.python_version(), platform.machine(), \"pointer bits\", 8 * struct.calcsize(\"P\"), \"long bits\", 8 * struct.calcsize(\"l\"))"
/opt/venv-3.14/bin/python -m pip install -q --disable-pip-version-check --no-build-isolation --no-deps --no-index \
    --config-settings=cmake.define.TOVRA_WERROR=ON . >/tmp/build.log 2>&1 || { cat /tmp/build.log; exit 1; }
cmake -S . -B build/core-tests -G Ninja -DCMAKE_BUILD_TYPE=Debug -DTOVRA_BUILD_EXTENSION=OFF \
    -DTOVRA_BUILD_CORE_TESTS=ON -DTOVRA_WERROR=ON >/tmp/core.log 2>&1 \
    && ninja -C build/core-tests >>/tmp/core.log 2>&1 || { cat /tmp/core.log; exit 1; }
build/core-tests/core_tests
cd tests
[ $# -gt 0 ] || set -- .
/opt/venv-3.14/bin/python -m pytest -q -p no:cacheprovider "$@"
' i386-tests "$@"
