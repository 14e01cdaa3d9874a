#!/bin/sh
# Runs the Python test suite (or the pytest selection given) under valgrind's
# memcheck, with every Python object on the C heap (PYTHONMALLOC=malloc), and
# fails when memcheck finds an error or a definitely lost block whose stack
# passes through the module. The interpreter's own findings are listed in
# the summary but do not fail the run. The module is built with debug
# information into its own venv, .venv-valgrind-X.Y.
#
#   scripts/valgrind-tests.sh [PYTEST ARGS...]   (run from tests/; default: all)
#
# The whole log is kept in build/valgrind/memcheck.log.
set -eu
cd "$(dirname "$0")/.."
if ! command -v valgrind >/dev/null 2>&1; then
    apt-get update -qq && DEBIAN_FRONTEND=noninteractive apt-get install -y -qq valgrind >/dev/null
fi
venv=$(TOVRA_VENV_KIND=valgrind TOVRA_PIP_BUILD_ARGS="--config-settings=cmake.build-type=RelWithDebInfo \
    --config-settings=build-dir=build/valgrind-{wheel_tag}" scripts/setup-venv.sh pytest hypothesis)

out="$PWD/build/valgrind"
mkdir -p "$out"
log="$out/memcheck.log"
status=0
[ $# -gt 0 ] || set -- .
# The suite's own verdict counts too; memcheck's is read from the log.
(cd tests && PYTHONMALLOC=malloc valgrind --tool=memcheck --leak-check=full --show-leak-kinds=definite \
    --errors-for-leak-kinds=definite --num-callers=40 --log-file="$log" \
    "$venv/bin/python" -m pytest -q -p no:cacheprovider "$@") || status=$?

# Every error and loss record is a block of lines "==PID== ..." up to an
# empty one; those that name the module are ours.
awk '
    /^==[0-9]+== *$/ { if (block != "") { if (block ~ /tovra::|tovra_api[.]cpython|PyInit_tovra_api/) { print block; ours++ } } block = ""; next }
    /^==[0-9]+== (Invalid|Conditional|Use of uninit|Syscall param|Mismatched|.* definitely lost in loss record)/ {
        block = $0; next
    }
    block != "" { block = block "\n" $0 }
    END { exit ours > 0 }
' "$log" >"$out/module-findings.log" || status=1

echo "== memcheck summary (log: $log)"
grep -E "ERROR SUMMARY|definitely lost:|indirectly lost:|possibly lost:|still reachable:" "$log" | sed 's/^==[0-9]*== */   /'
if [ -s "$out/module-findings.log" ]; then
    echo "== findings in the module's code:"
    cat "$out/module-findings.log"
    status=1
else
    echo "   nothing from the module's code"
fi
exit $status
