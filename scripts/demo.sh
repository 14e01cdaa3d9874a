#!/bin/sh
# Sets up a venv with the module and runs the demo.
set -eu
cd "$(dirname "$0")/.."
venv=$(scripts/setup-venv.sh)
"$venv/bin/python" examples/demo.py
