#!/bin/sh
# Builds bench/core_tables.cpp with the core, optimised, and runs it. Pass
# --quick for a short run. CXX picks the compiler (default g++).
set -eu
program=$("$(dirname "$0")/build_core_bench.sh" core_tables)
exec "$program" "$@"
