#!/bin/sh
# Checks that a Linux build of the module exports exactly one symbol,
# the descriptor, as a data object.
set -eu
module="$1"
exports=$(nm -D --defined-only "$module" | awk '{print $2, $3}')
echo "exports of $module:"
echo "$exports"
if [ "$exports" != "B _mod_descrip" ] && [ "$exports" != "D _mod_descrip" ]; then
    echo "FAIL: expected exactly one data export, _mod_descrip" >&2
    exit 1
fi
