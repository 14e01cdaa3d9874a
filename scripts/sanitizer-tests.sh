#!/bin/sh
# Runs the C++ unit tests of the core and the Python test suite against builds
# made with AddressSanitizer and UndefinedBehaviorSanitizer (g++). The module
# is built into its own venv, .venv-asan-X.Y, and its own build directory, so
# the ordinary build is left alone. Any report fails the run: undefined
# behaviour aborts at once, and an ASan error ends the process with an error.
#
#   scripts/sanitizer-tests.sh [PYTEST ARGS...]   (run from tests/; default: all)
#
# Leak detection is off here: the interpreter itself keeps memory until exit.
# Leaks are the business of tests/test_refcounts_and_memory.py and of
# scripts/valgrind-tests.sh.
set -eu
cd "$(dirname "$0")/.."
sanitize=address,undefined
venv=$(TOVRA_VENV_KIND=asan TOVRA_PIP_BUILD_ARGS="--config-settings=cmake.define.TOVRA_SANITIZE=$sanitize \
    --config-settings=cmake.define.TOVRA_WERROR=ON --config-settings=cmake.build-type=RelWithDebInfo \
    --config-settings=build-dir=build/asan-{wheel_tag}" scripts/setup-venv.sh pytest hypothesis cmake ninja)

build=$(PATH="$venv/bin:$PATH" scripts/cmake-build.sh core-tests-asan)
UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 "$build/core_tests"

# The interpreter is not built with ASan, so the runtimes are loaded first.
# PYTHONMALLOC=malloc puts every Python object on the checked heap too, so a
# write past the end of a bytes object the module fills is caught.
LD_PRELOAD="$(g++ -print-file-name=libasan.so) $(g++ -print-file-name=libubsan.so)"
ASAN_OPTIONS=detect_leaks=0:abort_on_error=1:strict_string_checks=1:check_initialization_order=1
UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
PYTHONMALLOC=malloc
export LD_PRELOAD ASAN_OPTIONS UBSAN_OPTIONS PYTHONMALLOC
cd tests
[ $# -gt 0 ] || set -- .
"$venv/bin/python" -m pytest -q -p no:cacheprovider "$@"
