#!/bin/sh
# Sets up a venv with the module (built with warnings as errors), then runs
# the C++ unit tests of the core and the Python test suite.
set -eu
cd "$(dirname "$0")/.."
TOVRA_PIP_BUILD_ARGS="--config-settings=cmake.define.TOVRA_WERROR=ON"
export TOVRA_PIP_BUILD_ARGS
venv=$(scripts/setup-venv.sh pytest hypothesis networkx cmake ninja)

build=$(PATH="$venv/bin:$PATH" scripts/cmake-build.sh core-tests)
"$build/core_tests"

# From outside the checkout, so that the installed module is what is tested.
cd tests
"$venv/bin/python" -m pytest -q -p no:cacheprovider "$@" .
