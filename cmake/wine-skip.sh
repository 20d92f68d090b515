#!/bin/sh
# Stands in for Wine where the Windows test programs cannot run: says why and
# ends with the code that ctest counts as skipped.
#   wine-skip.sh CODE REASON-FILE PROGRAM [ARGUMENTS...]
echo "Skipped: $(cat "$2")"
exit "$1"
