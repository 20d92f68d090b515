#!/bin/sh
# Replays the same stories of copy and paste on two builds of the module, the
# Linux build and the Windows DLL, and compares everything each made the host
# do: every call and every scene. The first difference is shown.
#
#   replay_differential.sh LINUX_REPLAY LINUX_MODULE EMULATOR DLL_REPLAY DLL [ARGUMENT...]
#
# EMULATOR runs the 32-bit DLL_REPLAY where this machine cannot (empty: none);
# the ARGUMENTs go to both replays.
set -eu
linux_replay=$1 linux_module=$2 emulator=$3 dll_replay=$4 dll=$5
shift 5
out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT
"$linux_replay" "$linux_module" "$@" >"$out/linux.txt"
$emulator "$dll_replay" "$dll" "$@" >"$out/dll.txt"
inputs=$(grep -c '^==== ' "$out/linux.txt" || true)
if ! cmp -s "$out/linux.txt" "$out/dll.txt"; then
    echo "the DLL and the Linux build differ on these stories:"
    diff -u "$out/linux.txt" "$out/dll.txt" | head -80
    exit 1
fi
echo "$inputs stories, $(wc -l <"$out/linux.txt") lines of host calls and scenes: the same on both builds"
