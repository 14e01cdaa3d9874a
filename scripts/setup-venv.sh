#!/bin/sh
# Makes (or reuses) .venv-X.Y for the Python that find-python.sh picks,
# installs the given pip packages and the module itself, and prints the venv's
# directory. Extra build settings come from $TOVRA_PIP_BUILD_ARGS; a build
# kept apart from the ordinary one (sanitizers, valgrind) names its venv with
# $TOVRA_VENV_KIND: .venv-KIND-X.Y.
set -eu
cd "$(dirname "$0")/.."
python=$(scripts/find-python.sh)
version=$("$python" -c 'import sys; print("%d.%d" % sys.version_info[:2])')
venv="$PWD/.venv-${TOVRA_VENV_KIND:+$TOVRA_VENV_KIND-}$version"
if [ ! -x "$venv/bin/python" ]; then
    "$python" -m venv "$venv" >&2
fi
if [ $# -gt 0 ]; then
    "$venv/bin/python" -m pip install -q --disable-pip-version-check "$@" >&2
fi
# shellcheck disable=SC2086
"$venv/bin/python" -m pip install -q --disable-pip-version-check ${TOVRA_PIP_BUILD_ARGS:-} . >&2
echo "$venv"
