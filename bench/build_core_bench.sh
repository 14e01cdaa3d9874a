#!/bin/sh
# Builds bench/NAME.cpp with the core, optimised (the CMake preset "bench"),
# and prints the program's path. CXX picks the compiler (default: CMake's).
# Used by the run_core_*.sh scripts.
set -eu
cd "$(dirname "$0")/.."
build=$(scripts/cmake-build.sh bench "$1")
echo "$build/$1"
