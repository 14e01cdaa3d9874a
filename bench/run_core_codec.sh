#!/bin/sh
# Builds bench/core_codec.cpp with the core, optimised, and runs it. Pass
# --quick for the 1e5-edge case only, or "--once encode|decode N" for a
# single call to look at under callgrind. CXX picks the compiler (default g++).
set -eu
cd "$(dirname "$0")/.."
out=${TMPDIR:-/tmp}/tovra_core_codec
"${CXX:-g++}" -std=c++20 -O2 -DNDEBUG -Wall -Wextra -Wpedantic -Isrc -o "$out" \
    bench/core_codec.cpp src/bytes/graph_diff_decoder.cpp src/bytes/graph_diff_encoder.cpp \
    src/bytes/utf8.cpp src/diff/table_memory.cpp src/node_update/node_update.cpp src/node_update/float_text.cpp \
    src/node_update/node_update_json_reader.cpp src/node_update/node_update_json_writer.cpp
exec "$out" "$@"
