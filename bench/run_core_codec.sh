#!/bin/sh
# Builds bench/core_codec.cpp with the core, optimised, and runs it. Pass
# --quick for the 1e5-edge case only, or "--once encode|decode N" for a
# single call to look at under callgrind. CXX picks the compiler (default g++).
set -eu
program=$("$(dirname "$0")/build_core_bench.sh" core_codec)
exec "$program" "$@"
