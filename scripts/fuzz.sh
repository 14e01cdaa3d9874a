#!/bin/sh
# Builds the fuzz targets of the core (fuzz/*.cpp) with clang's libFuzzer,
# AddressSanitizer and UndefinedBehaviorSanitizer (the CMake preset "fuzz"),
# makes their seed corpora with fuzz/make_seeds, and runs each target for
# SECONDS (default 60), one after the other, in one process on one core (no
# -jobs or -workers), at low priority.
#
#   scripts/fuzz.sh [SECONDS] [TARGET...]
#
# Targets: decode_bytes, read_node_update_json, float_text (default: all).
# FUZZ_FLAGS adds libFuzzer flags, e.g. FUZZ_FLAGS=-runs=10000000 with
# SECONDS 0 for a run of a fixed number of executions. The corpus grows in
# build/fuzz/corpus/TARGET; a failing input is kept as
# build/fuzz/artifacts/TARGET-crash-... and replays with
# build/fuzz/TARGET FILE. Exits non-zero when a target finds anything.
set -eu
cd "$(dirname "$0")/.."
seconds=${1:-60}
[ $# -gt 0 ] && shift
targets=${*:-decode_bytes read_node_update_json float_text}

if ! command -v "${CLANGXX:-clang++}" >/dev/null 2>&1; then
    apt-get update -qq && DEBIAN_FRONTEND=noninteractive apt-get install -y -qq clang >/dev/null
fi
cxx=${CLANGXX:-clang++}
echo "== building fuzz targets with $("$cxx" --version | head -n 1)"
out=$(CXX=$cxx scripts/cmake-build.sh fuzz decode_bytes read_node_update_json float_text make_seeds)
mkdir -p "$out/artifacts"
rm -rf "$out/seeds"
"$out/make_seeds" "$out/seeds"

status=0
for target in $targets; do
    corpus="$out/corpus/$target"
    mkdir -p "$corpus"
    dict=""
    max_len=4096
    [ "$target" = float_text ] && max_len=64
    [ "$target" = read_node_update_json ] && dict="-dict=fuzz/node_update_json.dict"
    log="$out/$target.log"
    limit="for ${seconds}s"
    [ "$seconds" = 0 ] && limit="with ${FUZZ_FLAGS:-no limit}"
    echo "== fuzzing $target $limit (log: $log)"
    # shellcheck disable=SC2086
    if nice -n 10 "$out/$target" -max_total_time="$seconds" -timeout=20 -rss_limit_mb=2048 \
        -max_len=$max_len -print_final_stats=1 -artifact_prefix="$out/artifacts/$target-" $dict ${FUZZ_FLAGS:-} \
        "$corpus" "$out/seeds/$target" >"$log" 2>&1; then
        runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log")
        last=$(grep -E '^#[0-9]+' "$log" | tail -n 1)
        echo "   $runs executions, no findings; $(echo "$last" | grep -oE 'cov: [0-9]+ ft: [0-9]+ corp: [^ ]+')"
    else
        status=1
        echo "   FINDING in $target:"
        grep -E 'ERROR|oracle failed|runtime error|Test unit written|SUMMARY' "$log" | head -n 20
    fi
done
exit $status
