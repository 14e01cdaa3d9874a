#!/bin/sh
# Times the same operations on two builds of the module in one process,
# alternating between them, so that the machine's drift from one run to the
# next (20 to 30 % here) falls on both alike. Usage:
#   bench/compare_builds.sh [REV [--edges E] [--nodes N] [--rounds R]]
# REV (default HEAD~1) is timed against the working tree; the options go to
# compare_builds.py (default: 20000 edges over as many ids, 21 rounds).
set -eu
cd "$(dirname "$0")/.."
rev=${1:-HEAD~1}
[ $# -gt 0 ] && shift
python=$(scripts/find-python.sh)
work=build/compare
rm -rf "$work/before-src"
mkdir -p "$work"
git worktree add -f -q --detach "$work/before-src" "$rev"
trap 'git worktree remove --force "$work/before-src"' EXIT
for side in before after; do
    [ -x "$work/$side/bin/python" ] || "$python" -m venv "$work/$side"
done
"$work/before/bin/python" -m pip install -q --disable-pip-version-check --force-reinstall \
    --config-settings=build-dir="$PWD/$work/before-build" "$work/before-src"
"$work/after/bin/python" -m pip install -q --disable-pip-version-check --force-reinstall \
    --config-settings=build-dir="$PWD/$work/after-build" .
module() { "$work/$1/bin/python" -c 'import tovra_api; print(tovra_api.__file__)'; }
echo "before: $rev ($(git rev-parse --short "$rev")); after: the working tree"
"$python" bench/compare_builds.py "$(module before)" "$(module after)" "$@"
