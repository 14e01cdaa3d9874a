#!/bin/sh
# Sets up a venv with the module (a release build) and runs the side-by-side
# benchmark. Arguments go to bench/run.py, e.g. --sizes 1e3,1e5 --repeats 3.
set -eu
cd "$(dirname "$0")/.."
venv=$(scripts/setup-venv.sh)
"$venv/bin/python" bench/run.py "$@"
