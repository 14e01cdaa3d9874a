#!/bin/sh
# Checks the distributions a user installs from. In a temporary directory:
# builds the sdist, builds from it a wheel for CPython 3.12 and one for 3.13,
# installs each wheel and the sdist itself into a fresh venv, and runs the test
# suite in tests/ against each install; against the wheels, also runs mypy's
# stubtest (the stub against the compiled module) and mypy --strict on the
# examples (the stub as a user's type checker finds it).
# KEEP=1 keeps the temporary directory and says where it is.
set -eu
cd "$(dirname "$0")/.."
checkout=$PWD
unset PYTHON || true  # find-python.sh picks each version itself
py312=$(scripts/find-python.sh 3.12)
py313=$(scripts/find-python.sh 3.13)

work=$(mktemp -d "${TMPDIR:-/tmp}/tovra-packages.XXXXXX")
if [ "${KEEP:-}" = 1 ]; then
    trap 'echo "kept $work" >&2' EXIT
else
    trap 'rm -rf "$work"' EXIT
fi
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
    pip_in "$1" install pytest hypothesis
    (cd "$checkout/tests" && "$1/bin/python" -m pytest -q -p no:cacheprovider .)
}

check_types() {
    # $1: a venv with the module installed. From a directory without the
    # checkout's tovra_api.pyi, so that only the installed stub can be found.
    pip_in "$1" install mypy
    (cd "$work" && "$1/bin/python" -m mypy.stubtest tovra_api)
    (cd "$work" && "$1/bin/python" -m mypy --strict --no-incremental "$checkout"/examples/*.py)
}

echo "== sdist"
tools=$(new_venv "$py312" tools)
pip_in "$tools" install build
if ! "$tools/bin/python" -m build --sdist --outdir "$dist" . >"$work/sdist.log" 2>&1; then
    cat "$work/sdist.log" >&2
    exit 1
fi
sdist=$(ls "$dist"/tovra_api-*.tar.gz)
basename "$sdist"

for python in "$py312" "$py313"; do
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

echo "== sdist installed by pip on $("$py312" --version)"
venv=$(new_venv "$py312" sdist-3.12)
pip_in "$venv" install --no-cache-dir "$sdist"
run_tests "$venv"

echo "== packages checked"
