#!/bin/sh
# Makes the Debian sid roots (scripts/sid-root.sh) that are missing or out of
# date, all at once: on a new machine each is mostly waiting on the mirror or
# on one emulated core, so side by side they take about as long as the
# slowest alone. A root already made is left as it is. Needs root.
#
#   scripts/make-roots.sh [ARCH...]   (default: amd64 i386 arm64)
# Each root's log is build/roots/ARCH.log; the last line says how long it took.
set -eu
cd "$(dirname "$0")/.."
[ $# -gt 0 ] || set -- amd64 i386 arm64
mkdir -p build/roots
pids=""
for arch in "$@"; do
    (
        start=$(date +%s)
        sid_arch=$arch
        . scripts/sid-root.sh
        root_ensure
        echo "   ($arch root ready: $(($(date +%s) - start)) s)"
    ) >"build/roots/$arch.log" 2>&1 &
    pids="$pids $arch:$!"
done
failed=""
for entry in $pids; do
    wait "${entry#*:}" || failed="$failed ${entry%%:*}"
    tail -n 1 "build/roots/${entry%%:*}.log"
done
if [ -n "$failed" ]; then
    for arch in $failed; do
        echo "== the $arch root failed:" >&2
        tail -n 30 "build/roots/$arch.log" >&2
    done
    exit 1
fi
