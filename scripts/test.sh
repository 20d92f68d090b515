#!/bin/sh
# Builds everything and runs every test suite through ctest.
set -eu
cd "$(dirname "$0")/.."
sh scripts/setup.sh
cmake --preset default
cmake --build --preset default
ctest --preset default
