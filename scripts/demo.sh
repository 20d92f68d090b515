#!/bin/sh
# Builds the module, the stand-in host and tamberlo-scene, then runs the demo.
set -eu
cd "$(dirname "$0")/.."
sh scripts/setup.sh
cmake --preset default >/dev/null
cmake --build --preset default --target tamberlo-demo tamberlo tamberlo-scene
./build/default/apps/tamberlo-demo ./build/default/Tamberlo.p build/default/demo-paste.svg
