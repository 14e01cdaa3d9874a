#!/bin/sh
# Builds bench/NAME.cpp with the core, optimised, and prints the program's
# path. CXX picks the compiler (default g++). Used by the run_core_*.sh scripts.
set -eu
cd "$(dirname "$0")/.."
out=${TMPDIR:-/tmp}/tovra_$1
core="src/bytes/graph_diff_decoder.cpp src/bytes/graph_diff_encoder.cpp src/bytes/utf8.cpp
      src/diff/table_memory.cpp src/node_update/node_update.cpp src/node_update/float_text.cpp
      src/node_update/node_update_json_reader.cpp src/node_update/node_update_json_writer.cpp"
# shellcheck disable=SC2086
"${CXX:-g++}" -std=c++20 -O2 -DNDEBUG -Wall -Wextra -Wpedantic -Isrc -o "$out" "bench/$1.cpp" $core >&2
echo "$out"
