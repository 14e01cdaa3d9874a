#!/bin/sh
# Prints the path of a CPython 3.12 or newer, or of exactly the minor version
# given as the first argument (e.g. 3.13). $PYTHON, when set, wins.
# Looks on PATH, then in pyenv's versions, then in /usr/bin and /usr/local/bin.
want="${1:-}"

ok() {
    [ -x "$1" ] || command -v "$1" >/dev/null 2>&1 || return 1
    "$1" -c '
import sys, platform
want = sys.argv[1]
if platform.python_implementation() != "CPython":
    sys.exit(1)
if want:
    sys.exit(0 if "%d.%d" % sys.version_info[:2] == want else 1)
sys.exit(0 if sys.version_info >= (3, 12) else 1)
' "$want" >/dev/null 2>&1
}

if [ -n "${PYTHON:-}" ]; then
    if ok "$PYTHON"; then command -v "$PYTHON" || echo "$PYTHON"; exit 0; fi
    echo "PYTHON=$PYTHON is not a CPython ${want:->= 3.12}" >&2
    exit 1
fi

if [ -n "$want" ]; then
    names="python$want"
else
    names="python3.14 python3.13 python3.12 python3 python"
fi
for name in $names; do
    path=$(command -v "$name" 2>/dev/null) || continue
    # pyenv's shims refuse a version that is not selected; ok() tells.
    if ok "$path"; then echo "$path"; exit 0; fi
done

pyenv_root=$(pyenv root 2>/dev/null || echo "${PYENV_ROOT:-$HOME/.pyenv}")
for dir in $(ls -d "$pyenv_root"/versions/3.* 2>/dev/null | sort -r -V); do
    case "$dir" in *-dev|*t) continue ;; esac
    if ok "$dir/bin/python3"; then echo "$dir/bin/python3"; exit 0; fi
done

for name in $names; do
    for prefix in /usr/local/bin /usr/bin; do
        if ok "$prefix/$name"; then echo "$prefix/$name"; exit 0; fi
    done
done

echo "no CPython ${want:->= 3.12} found; install one or set PYTHON=/path/to/python3.12" >&2
exit 1
