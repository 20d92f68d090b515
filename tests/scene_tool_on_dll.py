#!/usr/bin/env python3
"""tamberlo-scene on the module users install: the 32-bit tool runs the
Windows DLL through the PE32 loader, the 64-bit tool runs the Linux module,
and both must write the very same scene for the same copy and paste.

The pastes: the README's example between the sample scenes, and a capture
scene of 20 joints from the benchmark's generator, ten joints copied whole
onto the ten others at frame 100.

Usage: scene_tool_on_dll.py SOURCE_DIR TOOL64 RUN_I386 TOOL32 DLL GENERATOR
"""

import subprocess
import sys
import tempfile
from pathlib import Path

SOURCE, TOOL64, RUN_I386, TOOL32, DLL, GENERATOR = (Path(argument) for argument in sys.argv[1:7])
SAMPLES = SOURCE / "samples"


def run(command):
    result = subprocess.run([str(part) for part in command], capture_output=True, text=True,
                            check=False)
    if result.returncode != 0:
        sys.exit(f"failed ({result.returncode}): {' '.join(map(str, command))}\n"
                 f"{result.stdout}{result.stderr}")
    return result.stdout


def same_scene(name, arguments, folder):
    """Runs one paste on both builds and compares what they wrote."""
    linux, windows = folder / f"{name}-linux.lws", folder / f"{name}-dll.lws"
    run([TOOL64, *arguments, "-o", linux])
    run(["sh", RUN_I386, TOOL32, *arguments, "-o", windows, "--module", DLL])
    written, expected = windows.read_bytes(), linux.read_bytes()
    if written != expected:
        at = next(i for i, (a, b) in enumerate(zip(written, expected + b"\0")) if a != b)
        sys.exit(f"{name}: the DLL's scene differs from the Linux module's at byte {at}:\n"
                 f"  DLL:   {written[max(0, at - 40):at + 40]!r}\n"
                 f"  Linux: {expected[max(0, at - 40):at + 40]!r}")
    source = Path(arguments[0]).read_bytes()
    if written == source:
        sys.exit(f"{name}: the paste changed nothing, so the comparison shows nothing")
    print(f"{name}: the same {len(written)} bytes from the DLL and from the Linux module")


def main():
    for program in (TOOL64, TOOL32, DLL, GENERATOR):
        if not program.is_file():
            sys.exit(f"{program} is missing: the test command builds it (sh scripts/test.sh)")
    with tempfile.TemporaryDirectory(prefix="tamberlo-dll-") as name:
        folder = Path(name)
        same_scene("readme-example", [
            SAMPLES / "walk.lws", "--from", "Runner,Tracker", "--into", SAMPLES / "stage.lws",
            "--to", "Dancer,Prop Null", "--frames", "10:40", "--at", "30",
            "--off", "Runner:Rotation.H", "--toggle", "Tracker:Scale"], folder)
        capture = folder / "capture.lws"
        run([GENERATOR, "generate", "--joints", "20", "--frames", "300", capture])
        same_scene("capture", [capture, "--from", "Joint00?", "--to", "Joint01?", "--at", "100"],
                   folder)


if __name__ == "__main__":
    main()
