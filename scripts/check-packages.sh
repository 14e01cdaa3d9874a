#!/bin/sh
# Checks the distributions a user installs from. In a temporary directory:
# builds the sdist, builds from it a wheel for each supported CPython (3.12
# and 3.13 here, 3.14 and 3.15 in the amd64 Debian sid root of scripts/sid-root.sh),
# installs each wheel and the sdist itself into a fresh venv, and runs the
# test suite in tests/ against each install; against the wheels, also runs
# mypy's stubtest (the stub against the compiled module) and mypy --strict on
# the examples (the stub as a user's type checker finds it).
# KEEP=1 keeps the temporary directory and says where it is.
#
#   scripts/check-packages.sh
#   scripts/check-packages.sh --wheels SDIST PYTHON...   (the wheel checks alone)
set -eu
cd "$(dirname "$0")/.."
checkout=$PWD
unset PYTHON || true  # find-python.sh picks each version itself

work=$(mktemp -d "${TMPDIR:-/tmp}/tovra-packages.XXXXXX")
cleanup() {
    if [ "${KEEP:-}" = 1 ]; then echo "kept $work" >&2; else rm -rf "$work"; fi
}
dist="$work/dist"
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

check_wheels() {
    # $1: the sdist; the rest: Pythons to build, install and test a wheel for.
    sdist=$1
    shift
    for python in "$@"; do
        version=$("$python" -c 'import sys; print("%d.%d" % sys.version_info[:2])')
        echo "== wheel for $("$python" --version), built from the sdist"
        venv=$(new_venv "$python" "wheel-$version")
        # --no-cache-dir: a build of its own, never a wheel left from another run.
        pip_in "$venv" wheel --no-cache-dir --no-deps --wheel-dir "$dist" "$sdist"
        tag=$(echo "$version" | tr -d .)
        wheel=$(ls "$dist"/tovra_api-*-cp"$tag"-cp"$tag"-*.whl)
        basename "$wheel"
        pip_in "$venv" install "$wheel"
        run_tests "$venv"
        check_types "$venv"
    done
}

if [ "${1:-}" = --wheels ]; then
    trap cleanup EXIT
    shift
    check_wheels "$@"
    exit 0
fi

py312=$(scripts/find-python.sh 3.12)
py313=$(scripts/find-python.sh 3.13)
sid_arch=amd64
. scripts/sid-root.sh
trap 'root_unmount; cleanup' EXIT

echo "== sdist"
tools=$(new_venv "$py312" tools)
pip_in "$tools" install build
if ! "$tools/bin/python" -m build --sdist --outdir "$dist" . >"$work/sdist.log" 2>&1; then
    cat "$work/sdist.log" >&2
    exit 1
fi
sdist=$(ls "$dist"/tovra_api-*.tar.gz)
basename "$sdist"

check_wheels "$sdist" "$py312" "$py313"

# The same checks, run by this script inside the root on its interpreters.
root_ensure
root_copy_tree "$checkout"
cp "$sdist" "$root_dir/src/"
root_run 'scripts/check-packages.sh --wheels "/src/$1" python3.14 python3.15' \
    check-packages "$(basename "$sdist")"

echo "== sdist installed by pip on $("$py312" --version)"
venv=$(new_venv "$py312" sdist-3.12)
pip_in "$venv" install --no-cache-dir "$sdist"
run_tests "$venv"

echo "== packages checked"
