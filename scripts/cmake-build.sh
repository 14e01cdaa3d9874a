#!/bin/sh
# Builds C++ targets through CMake, the one build of every C++ program here:
# configures the preset PRESET of CMakePresets.json in build/PRESET, builds
# the given targets (default: all of the preset) with at most two jobs, and
# prints the build directory's absolute path. The build's output is shown
# only when it fails.
#
#   scripts/cmake-build.sh PRESET [TARGET...]
#
# CXX, when set, picks the compiler; TOVRA_BUILD_DIR, another build directory
# for the preset. cmake and ninja are taken from PATH, and
# installed with apt when missing.
set -eu
cd "$(dirname "$0")/.."
preset=$1
shift
if ! command -v cmake >/dev/null 2>&1 || ! command -v ninja >/dev/null 2>&1; then
    apt-get update -qq && DEBIAN_FRONTEND=noninteractive apt-get install -y -qq cmake ninja-build >/dev/null
fi
build=${TOVRA_BUILD_DIR:-build/$preset}
mkdir -p "$build"
log="$build/cmake-build.log"
targets=""
for target in "$@"; do targets="$targets --target $target"; done
# shellcheck disable=SC2086
if ! { cmake --preset "$preset" -B "$build" ${CXX:+"-DCMAKE_CXX_COMPILER=$CXX"} \
        && cmake --build "$build" --parallel 2 $targets; } >"$log" 2>&1; then
    cat "$log" >&2
    exit 1
fi
cd "$build" && pwd
