#!/bin/sh
# Checks the distributions a user installs, from OUTDIR of
# scripts/build-wheels.sh (its sdist and its x86_64 wheels). In a temporary
# directory: installs the wheel for CPython 3.12 and for 3.13 into a fresh
# venv each and runs mypy's stubtest (the stub against the compiled module)
# and mypy --strict on the examples (the stub as a user's type checker finds
# it); then installs the sdist itself with pip, which builds it, and runs the
# test suite in tests/ against that install. The wheels' own suites run in
# scripts/test-wheels.sh. KEEP=1 keeps the temporary directory and says where
# it is.
#
#   scripts/check-packages.sh OUTDIR
set -eu
cd "$(dirname "$0")/.."
checkout=$PWD
unset PYTHON || true  # find-python.sh picks each version itself

work=$(mktemp -d "${TMPDIR:-/tmp}/tovra-packages.XXXXXX")
cleanup() {
    if [ "${KEEP:-}" = 1 ]; then echo "kept $work" >&2; else rm -rf "$work"; fi
}
# At most two compile jobs: the machines have two cores.
CMAKE_BUILD_PARALLEL_LEVEL=${CMAKE_BUILD_PARALLEL_LEVEL:-2}
export CMAKE_BUILD_PARALLEL_LEVEL

pip_in() {
    # $1: a venv; the rest: pip's arguments.
    pip_venv=$1
    shift
    "$pip_venv/bin/python" -m pip -q --disable-pip-version-check "$@"
}

new_venv() {
    # $1: a Python, $2: the venv's name under $work. Prints the venv's path.
    "$1" -m venv "$work/$2"
    echo "$work/$2"
}

run_tests() {
    # $1: a venv with the module installed. From tests/, so that the module
    # imported is the installed one.
    pip_in "$1" install pytest hypothesis networkx
    (cd "$checkout/tests" && "$1/bin/python" -m pytest -q -p no:cacheprovider .)
}

check_types() {
    # $1: a venv with the module installed. From a directory without the
    # checkout's tovra_api.pyi, so that only the installed stub can be found.
    pip_in "$1" install mypy types-networkx
    (cd "$work" && "$1/bin/python" -m mypy.stubtest tovra_api)
    (cd "$work" && "$1/bin/python" -m mypy --strict --no-incremental "$checkout"/examples/*.py)
}

[ $# -eq 1 ] || { echo "usage: scripts/check-packages.sh OUTDIR" >&2; exit 2; }
wheels=$(cd "$1" && pwd)
trap cleanup EXIT
sdist=$(ls "$wheels"/tovra_api-*.tar.gz)
py312=$(scripts/find-python.sh 3.12)

for version in 3.12 3.13; do
    python=$(scripts/find-python.sh "$version")
    echo "== the wheel on $("$python" --version): stubtest and mypy --strict"
    venv=$(new_venv "$python" "wheel-$version")
    pip_in "$venv" install --no-index --only-binary :all: --find-links "$wheels" tovra_api
    check_types "$venv"
done

echo "== sdist installed by pip on $("$py312" --version)"
venv=$(new_venv "$py312" sdist-3.12)
pip_in "$venv" install --no-cache-dir "$sdist"
run_tests "$venv"

echo "== packages checked"
