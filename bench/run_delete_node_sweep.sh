#!/bin/sh
# Builds bench/delete_node_sweep.cpp with the core under the module's release
# flags (-O3, as the extension is built) and runs it. Options go to the
# program: --edges E --ids N1,N2 --max-k K --repeats R --boost-k K.
# CXX picks the compiler (default g++).
set -eu
cd "$(dirname "$0")/.."
out=build/sweep
mkdir -p "$out"
${CXX:-g++} -std=c++20 -O3 -DNDEBUG -Wall -Wextra -Wpedantic -Werror -Isrc -Ibench \
    bench/delete_node_sweep.cpp src/tables/table_memory.cpp \
    -o "$out/delete_node_sweep"
exec "$out/delete_node_sweep" "$@"
