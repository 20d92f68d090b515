#!/bin/sh
# Builds everything and runs every test suite through ctest.
set -eu
cd "$(dirname "$0")/.."
sh scripts/setup.sh
cmake --preset default
cmake --build --preset default
# The 32-bit Windows DLL, the module Layout loads, with its test programs; the
# default tree's ctest runs them under Wine where this machine can run Wine,
# and otherwise reports them as skipped (TAMBERLO_NO_WINE=1 forces that path).
# The DLL's static checks need no Wine and run everywhere.
cmake --preset windows
cmake --build --preset windows
# The 32-bit Linux stand-in that loads that very DLL through our PE32 loader
# and runs the module's suites on it (dll.*), natively or under qemu-i386.
cmake --preset linux32
cmake --build --preset linux32
# Everything again with AddressSanitizer and UndefinedBehaviorSanitizer (and
# the fuzzer's bounded run); the default tree's ctest runs these too.
cmake --preset asan
cmake --build --preset asan
# The release tree the benchmarks measure, built whole: a warning that only
# the optimiser's deepest level raises fails here as it would fail them.
cmake --preset release
cmake --build --preset release
if [ -f build/windows/wine-skip-reason.txt ]; then
    echo "test: the windows.* suites that need Wine will be skipped: $(cat build/windows/wine-skip-reason.txt)"
fi
ctest --preset default
