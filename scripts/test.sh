#!/bin/sh
# Sets up a venv with the module (built with warnings as errors), then runs
# the C++ unit tests of the core, the Python test suite and the benchmark's
# own tests.
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
# The benchmark's own instruments: its memory probe, and that every target
# it judges names a row it measures.
"$venv/bin/python" -m pytest -q -p no:cacheprovider ../bench/test_harness.py
