#!/bin/sh
# Builds tools/check_json_corpus.cpp against the core (the CMake preset
# "bench") and runs it over DIRECTORY, a corpus of y_ (must accept), n_ (must
# refuse) and i_ files.
set -eu
if [ "$#" -ne 1 ]; then
    echo "usage: $0 DIRECTORY" >&2
    exit 2
fi
directory=$(cd "$1" && pwd)
root=$(cd "$(dirname "$0")/.." && pwd)
build=$("$root/scripts/cmake-build.sh" bench check_json_corpus)
"$build/check_json_corpus" "$directory"
