#!/bin/sh
# Builds the module, the stand-in host and tamberlo-scene, then runs the demo.
#
# TAMBERLO_DEMO_DLL=1 runs the same demo on the module users install, the
# 32-bit Windows DLL, which the 32-bit Linux stand-in loads through its PE32
# loader (natively, or under qemu-i386 where this machine cannot run 32-bit
# programs). The picture stays with the Linux build.
set -eu
cd "$(dirname "$0")/.."
sh scripts/setup.sh
if [ "${TAMBERLO_DEMO_DLL:-0}" != 0 ]; then
    cmake --preset windows >/dev/null
    cmake --build --preset windows --target tamberlo
    cmake --preset linux32 >/dev/null
    cmake --build --preset linux32 --target tamberlo-demo
    exec sh build/linux32/run-i386.sh ./build/linux32/apps/tamberlo-demo ./build/windows/Tamberlo.p
fi
cmake --preset default >/dev/null
cmake --build --preset default --target tamberlo-demo tamberlo tamberlo-scene
./build/default/apps/tamberlo-demo ./build/default/Tamberlo.p build/default/demo-paste.svg
