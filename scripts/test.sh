#!/bin/sh
# Builds everything and runs every test suite through ctest.
set -eu
cd "$(dirname "$0")/.."
sh scripts/setup.sh
cmake --preset default
cmake --build --preset default
# The 32-bit Windows DLL, the module Layout loads, with its test programs; the
# default tree's ctest runs them under Wine.
cmake --preset windows
cmake --build --preset windows
# Everything again with AddressSanitizer and UndefinedBehaviorSanitizer (and
# the fuzzer's bounded run); the default tree's ctest runs these too.
cmake --preset asan
cmake --build --preset asan
ctest --preset default
