#!/bin/sh
# Builds tools/check_json_corpus.cpp against the core's JSON reader and runs it
# over DIRECTORY, a corpus of y_ (must accept), n_ (must refuse) and i_ files.
set -eu
if [ "$#" -ne 1 ]; then
    echo "usage: $0 DIRECTORY" >&2
    exit 2
fi
root=$(cd "$(dirname "$0")/.." && pwd)
binary=$(mktemp "${TMPDIR:-/tmp}/check_json_corpus.XXXXXX")
trap 'rm -f "$binary"' EXIT
"${CXX:-g++}" -std=c++20 -O2 -Wall -Wextra -Wpedantic -I"$root/src" -o "$binary" \
    "$root/tools/check_json_corpus.cpp" \
    "$root/src/node_update/node_update_json_reader.cpp"
"$binary" "$1"
