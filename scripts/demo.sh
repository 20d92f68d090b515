#!/bin/sh
# Builds the module and the stand-in host, then runs the demo.
set -eu
cd "$(dirname "$0")/.."
sh scripts/setup.sh
cmake --preset default >/dev/null
cmake --build --preset default --target tamberlo-demo tamberlo
./build/default/apps/tamberlo-demo ./build/default/Tamberlo.p build/default/demo-paste.svg
