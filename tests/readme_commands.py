#!/usr/bin/env python3
"""Runs every command that README.md shows a user, on the trees the test
command has built, each in a quick form where the full one takes long.

A command is anything the README shows in an indented code block, or inline
as a program with its arguments. Each must stand in COMMANDS below, with how
it is run and what is checked of it, or with the reason it is not run here: a
command the README gains, or one this list names that the README lost, fails
the check, so the two cannot drift apart. A fenced `python` block is an
example of the Python package, named by its first line, a comment; each must
stand in PYTHON_EXAMPLES likewise, and runs whole with Debian's Python on
the package of the default tree.

Usage: readme_commands.py [SOURCE_DIR]   (run from anywhere; ctest runs it)
"""

import os
import re
import subprocess
import sys
import tempfile
import zipfile
from dataclasses import dataclass
from pathlib import Path
from typing import Callable, Optional

ROOT = Path(sys.argv[1] if len(sys.argv) > 1 else Path(__file__).resolve().parent.parent).resolve()
WINE_SKIP_REASON = ROOT / "build/windows/wine-skip-reason.txt"
INLINE_COMMAND = re.compile(r"(?:[A-Z_]+=\S+ )*(?:sh|cmake|ctest|build/\S+) .*")


class CheckFailed(Exception):
    pass


def expect(condition, what):
    if not condition:
        raise CheckFailed(what)


@dataclass
class Command:
    shown: str
    run: Optional[str] = None  # what runs instead of the command shown: its quick form
    check: Callable[[str], None] = lambda output: None
    not_run: Optional[str] = None  # why it is not run here


def shown_commands(readme):
    """Every command the README shows: code-block lines, continuation lines
    joined and comments dropped, and program calls in inline code."""
    commands = []
    pending = ""
    previous_blank = True
    in_block = False
    fenced = False
    for line in readme.splitlines():
        if line.startswith("```"):
            fenced = not fenced
            continue
        if fenced:
            continue
        if line.startswith("    ") and (in_block or previous_blank):
            in_block = True
            pending += " " + line.strip()
            if pending.endswith("\\"):
                pending = pending[:-1]
                continue
            commands.append(pending)
            pending = ""
        else:
            in_block = False
        previous_blank = not line.strip()
    commands += [span for span in re.findall(r"`([^`]*)`", readme) if INLINE_COMMAND.fullmatch(span)]
    return {normal(command) for command in commands}


def python_examples(readme):
    """Each fenced python block of the README, by its first line."""
    blocks = re.findall(r"^```python\n(.*?)^```", readme, flags=re.M | re.S)
    return {block.splitlines()[0]: block for block in blocks}


def normal(command):
    """A command without its trailing comment, its spaces collapsed."""
    command = re.sub(r"\s+#\s.*$", "", command)
    return " ".join(command.split())


def run(command):
    result = subprocess.run(["sh", "-c", command], cwd=ROOT, stdin=subprocess.DEVNULL,
                            stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True,
                            errors="replace")
    if result.returncode != 0:
        raise CheckFailed(f"exit status {result.returncode}:\n{result.stdout}")
    return result.stdout


def run_python(code):
    """An example run whole by Debian's Python on the package of the default tree."""
    result = subprocess.run(["/usr/bin/python3", "-"], cwd=ROOT, input=code, stdout=subprocess.PIPE,
                            stderr=subprocess.STDOUT, text=True, errors="replace",
                            env={**os.environ, "PYTHONPATH": str(ROOT / "build/default/python")})
    if result.returncode != 0:
        raise CheckFailed(f"exit status {result.returncode}:\n{result.stdout}")
    return result.stdout


# --- What is checked of a command's outcome --------------------------------

def lists_the_four_servers(output):
    servers = re.findall(r'server \d: LayoutGeneric "(Ruxo_Tamberlo \w+)"', output)
    expect(servers == [f"Ruxo_Tamberlo {name}" for name in ("copy", "paste", "save", "load")],
           f"the servers listed are {servers}")


def traces_the_copy(output):
    lists_the_four_servers(output)
    expect('activate "Ruxo_Tamberlo copy" version 2 -> 0' in output, "no trace of the copy")


def svg(path):
    expect(path.is_file() and "<svg" in path.read_text(errors="replace"), f"{path} is not an SVG")


def demo_session(output):
    """What the demo showed after naming its module, but where it drew."""
    lines = output.splitlines()
    start = next((i for i, line in enumerate(lines) if line.startswith("module ")), len(lines))
    return "\n".join(line for line in lines[start + 1:] if "drawn in" not in line).rstrip()


linux_demo = []


def demo_drew_its_paste(output):
    expect("demo-paste.svg" in output, "the demo does not say where it drew")
    svg(ROOT / "build/default/demo-paste.svg")
    linux_demo.append(demo_session(output))


def dll_demo_is_the_linux_one(output):
    expect("module ./build/windows/Tamberlo.p" in output, "the demo did not load the DLL")
    expect(linux_demo and demo_session(output) == linux_demo[-1],
           "the DLL's demo differs from the Linux build's")


def package_holds_three_files(output):
    with zipfile.ZipFile(ROOT / "build/windows/Tamberlo-1.0.0-win32.zip") as package:
        names = sorted(name for name in package.namelist() if not name.endswith("/"))
    expect(names == [f"Tamberlo-1.0.0-win32/{name}" for name in ("INSTALL.txt", "LICENSE.txt", "Tamberlo.p")],
           f"the package holds {names}")


def reads_back_unchanged(path):
    """A scene the tool wrote is one it reads and writes back byte for byte."""
    with tempfile.TemporaryDirectory() as scratch:
        again = Path(scratch) / "again.lws"
        run(f"build/default/tamberlo-scene '{path}' -o '{again}'")
        expect(again.read_bytes() == path.read_bytes(), f"{path} does not read back unchanged")


def pasted_into_stage(output):
    expect("wrote" in output, "tamberlo-scene does not say what it wrote")
    reads_back_unchanged(ROOT / "build/stage-pasted.lws")
    expect((ROOT / "build/stage-pasted.lws").read_bytes() != (ROOT / "samples/stage.lws").read_bytes(),
           "the paste changed nothing")
    svg(ROOT / "build/stage-pasted.svg")


def mapped_onto_stage(output):
    """The map's paste is the one of the same items named on the command line."""
    expect("map samples/walk-onto-stage.map: 2 pairs" in output, "the map's pairs are not counted")
    expect("== Paste: 2 items (Dancer and Prop Null)" in output, "the paste's items are not shown")
    reads_back_unchanged(ROOT / "build/stage-mapped.lws")
    with tempfile.TemporaryDirectory() as scratch:
        named = Path(scratch) / "named.lws"
        run(f"build/default/tamberlo-scene samples/walk.lws --from Runner,Tracker --into samples/stage.lws "
            f"--to 'Dancer,Prop Null' --frames 10:40 --at 30 -o '{named}'")
        expect((ROOT / "build/stage-mapped.lws").read_bytes() == named.read_bytes(),
               "the map pasted otherwise than the names")


def walk_round_trip(output):
    expect((ROOT / "build/walk.lws").read_bytes() == (ROOT / "samples/walk.lws").read_bytes(),
           "the round trip changed walk.lws")


def fuzzer_ran(output):
    expect(re.search(r"Done \d+ runs|Executed .* in \d+ ms", output) is not None,
           "the fuzzer reports no runs")


def scene_table(output):
    expect("copy and paste" in output and "peak/file" in output, "no scene-file table")
    expect("fail" not in output.lower(), "a scene-file step failed")


def scene_table_with_the_dll(output):
    scene_table(output)
    expect("copy and paste, 32-bit DLL" in output and "The DLL itself held at most" in output,
           "no row of the 32-bit build on the DLL")


def bench_table(output):
    expect("module ns/key" in output and "clipboard" in output, "no benchmark table")
    scene_table_with_the_dll(output)


def dll_pasted_as_linux(output):
    expect((ROOT / "build/stage-pasted-dll.lws").read_bytes()
           == (ROOT / "build/stage-pasted.lws").read_bytes(),
           "the DLL pasted otherwise than the Linux module")


def capture_scene_reads_back(output):
    expect("27000 keys" in output, "the generator does not say what it wrote")
    reads_back_unchanged(ROOT / "build/capture.lws")


def help_names_everything(output):
    for name in ("read_scene(path", "load_module(path", "read_map(path", "class Scene", "class Channel",
                 "class Module", "class PasteResult", "class Refused", "class ContractBreach", "KEY_DTYPE"):
        expect(name in output, f"help(tamberlo) does not show {name}")


def installed_package(output):
    found = list((ROOT / "build/python-install").glob("lib/python3*/dist-packages/tamberlo/_tamberlo*.so"))
    expect(len(found) == 1 and (found[0].parent / "Tamberlo.p").is_file()
           and (found[0].parent / "__init__.pyi").is_file(), "the package is not installed whole")


def python_pasted_as_the_tool(output):
    expect('activate "Ruxo_Tamberlo copy" -> 0' in output
           and "pasted frames 10 to 40 at frame 30; channels changed: 14" in output,
           "the example does not print the copy and the paste as the tool does")
    for suffix in ("lws", "svg"):
        expect((ROOT / f"build/stage-pasted-python.{suffix}").read_bytes()
               == (ROOT / f"build/stage-pasted.{suffix}").read_bytes(),
               f"the Python example's .{suffix} is not the tool's")


def python_pasted_each_shot(output):
    expect(len(re.findall(r"^build/shots/stage-0[123]0.lws: frames \d+ to \d+, 18 channels changed$",
                          output, flags=re.M)) == 3, "the example does not name its three shots")
    for shot in ("010", "020", "030"):
        reads_back_unchanged(ROOT / f"build/shots/stage-{shot}.lws")
    expect((ROOT / "build/shots/stage-020.lws").read_bytes() == (ROOT / "build/stage-mapped.lws").read_bytes(),
           "the shot pasted at frame 30 is not the tool's paste through the same map")


def python_keys_written(output):
    expect("Prop Null Position.Y: distance, 5 keys, behaviours 1 2" in output, "the null's keys are not set")
    reads_back_unchanged(ROOT / "build/stage-keys.lws")


def ctest_passed(output):
    expect("100% tests passed" in output, "not every test passed")


def wine_reason():
    return WINE_SKIP_REASON.read_text().strip() if WINE_SKIP_REASON.exists() else None


THE_TEST_COMMAND = "the test command itself, which runs this check"
FIRST_SEED = "fuzz/corpus/" + sorted(os.listdir(ROOT / "fuzz/corpus"))[0]

COMMANDS = [
    Command("sh scripts/demo.sh", check=demo_drew_its_paste),
    Command("TAMBERLO_DEMO_DLL=1 sh scripts/demo.sh", check=dll_demo_is_the_linux_one),
    Command("sh scripts/test.sh", not_run=THE_TEST_COMMAND),
    Command("TAMBERLO_NO_WINE=1 sh scripts/test.sh", not_run=THE_TEST_COMMAND + ", without Wine"),
    Command("ctest --preset default", not_run=THE_TEST_COMMAND + " (its ctest)"),
    Command("cmake --preset windows && cmake --build --preset windows"),
    Command("ctest --preset windows",
            run=r"ctest --preset windows -R '^windows\.module_'",
            check=ctest_passed),
    Command("sh cmake/wine-run.sh build/windows/wineprefix build/windows/apps/standin-cli.exe build/windows/Tamberlo.p",
            check=lists_the_four_servers, not_run=wine_reason()),
    Command("cmake --preset windows && cmake --build --preset windows --target package",
            check=package_holds_three_files),
    Command("cmake --preset linux32 && cmake --build --preset linux32"),
    Command("ctest --preset linux32", run=r"ctest --preset linux32 -R '^pe32\.'", check=ctest_passed),
    Command("sh build/linux32/run-i386.sh build/linux32/apps/standin-cli build/windows/Tamberlo.p",
            check=lists_the_four_servers),
    Command("build/default/apps/standin-cli build/default/Tamberlo.p", check=lists_the_four_servers),
    Command('build/default/apps/standin-cli build/default/Tamberlo.p "Ruxo_Tamberlo copy" 2', check=traces_the_copy),
    Command('build/default/tamberlo-scene samples/walk.lws --from Runner,Tracker --into samples/stage.lws '
            '--to "Dancer,Prop Null" --frames 10:40 --at 30 --off Runner:Rotation.H --toggle Tracker:Scale '
            '-o build/stage-pasted.lws --plot build/stage-pasted.svg',
            check=pasted_into_stage),
    Command("sh build/linux32/run-i386.sh build/linux32/tamberlo-scene samples/walk.lws "
            '--from Runner,Tracker --into samples/stage.lws --to "Dancer,Prop Null" --frames 10:40 '
            "--at 30 --off Runner:Rotation.H --toggle Tracker:Scale -o build/stage-pasted-dll.lws "
            "--module build/windows/Tamberlo.p",
            check=dll_pasted_as_linux),
    Command("build/default/tamberlo-scene samples/walk.lws --map samples/walk-onto-stage.map "
            "--into samples/stage.lws --frames 10:40 --at 30 -o build/stage-mapped.lws",
            check=mapped_onto_stage),
    Command("build/default/tamberlo-scene samples/walk.lws -o build/walk.lws", check=walk_round_trip),
    Command("cmake --build --preset default --target tamberlo_python"),
    Command('PYTHONPATH=build/default/python /usr/bin/python3 -c "import tamberlo; help(tamberlo)"',
            check=help_names_everything),
    Command("cmake --install build/default --component python",
            run="cmake --install build/default --component python --prefix build/python-install",
            check=installed_package),
    Command("cmake --preset asan && cmake --build --preset asan --target copy_paste_fuzzer"),
    Command("mkdir -p build/asan/fuzz/found"),
    Command("build/asan/fuzz/copy_paste_fuzzer -max_total_time=3600 build/asan/fuzz/found fuzz/corpus",
            run="build/asan/fuzz/copy_paste_fuzzer -max_total_time=5 build/asan/fuzz/found fuzz/corpus",
            check=fuzzer_ran),
    Command("build/asan/fuzz/copy_paste_fuzzer crash-<hash>",
            run=f"build/asan/fuzz/copy_paste_fuzzer {FIRST_SEED}", check=fuzzer_ran),
    Command("TAMBERLO_FUZZ_VERBOSE=1 build/asan/fuzz/copy_paste_fuzzer fuzz/corpus/*", check=fuzzer_ran),
    Command("cmake --build --preset asan --target scene_file_fuzzer"),
    Command("mkdir -p build/asan/fuzz/scenes && cp samples/*.lws fuzz/scene_seeds/*.lws build/asan/fuzz/scenes/"),
    Command("build/asan/fuzz/scene_file_fuzzer -max_total_time=600 -dict=fuzz/scene_file.dict build/asan/fuzz/scenes",
            run="build/asan/fuzz/scene_file_fuzzer -max_total_time=5 -dict=fuzz/scene_file.dict build/asan/fuzz/scenes",
            check=fuzzer_ran),
    Command("cmake --build --preset asan --target scene_tool_fuzzer"),
    Command("mkdir -p build/asan/fuzz/tool && cp fuzz/tool_corpus/* build/asan/fuzz/tool/"),
    Command("build/asan/fuzz/scene_tool_fuzzer -max_total_time=600 build/asan/fuzz/tool",
            run="build/asan/fuzz/scene_tool_fuzzer -max_total_time=5 build/asan/fuzz/tool",
            check=fuzzer_ran),
    Command("sh scripts/bench.sh --quick", check=bench_table),
    Command("sh scripts/bench.sh", not_run="about ten minutes; its `--quick` form above runs the same script"),
    Command("sh scripts/bench.sh --10m",
            not_run="about 25 minutes and 8 GB more; its `--quick` form above runs the same script"),
    Command("build/release/bench/copy_paste_bench --benchmark_filter=/items:10/keys:100000/",
            run="build/release/bench/copy_paste_bench --benchmark_filter=/items:10/keys:100000/ "
                "--benchmark_min_time=0.01"),
    Command("build/release/bench/scene_bench run --rounds 3",
            run="build/release/bench/scene_bench run --quick", check=scene_table),
    Command("build/release/bench/scene_bench generate --joints 100 --frames 3000 build/capture.lws",
            run="build/release/bench/scene_bench generate --joints 10 --frames 300 build/capture.lws",
            check=capture_scene_reads_back),
    Command("build/release/bench/scene_bench run --quick --dll-bench build/linux32/bench/scene_bench "
            "--dll-runner build/linux32/run-i386.sh",
            check=scene_table_with_the_dll),
]


# The Python examples, by their first line, and what is checked of each; they
# run after the commands, whose files they are compared with.
PYTHON_EXAMPLES = {
    "# The tamberlo-scene example above, in Python": python_pasted_as_the_tool,
    "# Many scenes, one module: the walk pasted into each shot at its own frame": python_pasted_each_shot,
    "# Keys as numbers: Dancer's Position.Y twice as high, and a bounce on the null": python_keys_written,
}


def main():
    readme = (ROOT / "README.md").read_text()
    shown = shown_commands(readme)
    listed = {normal(command.shown) for command in COMMANDS}
    failures = [f"the README shows `{command}`, which this check neither runs nor lists"
                for command in sorted(shown - listed)]
    failures += [f"this check lists `{command}`, which the README no longer shows"
                 for command in sorted(listed - shown)]
    examples = python_examples(readme)
    failures += [f"the README shows the Python example `{title}`, which this check does not list"
                 for title in sorted(examples.keys() - PYTHON_EXAMPLES.keys())]
    failures += [f"this check lists the Python example `{title}`, which the README no longer shows"
                 for title in sorted(PYTHON_EXAMPLES.keys() - examples.keys())]
    for command in COMMANDS:
        if command.not_run:
            print(f"not run: {command.shown}\n    because: {command.not_run}")
            continue
        how = command.run or command.shown
        print(f"run: {how}" + ("" if how == command.shown else f"\n    for: {command.shown}"), flush=True)
        try:
            command.check(run(how))
        except CheckFailed as failure:
            failures.append(f"`{how}`: {failure}")
    for title, check in PYTHON_EXAMPLES.items():
        if title not in examples:
            continue
        print(f"run the Python example: {title}", flush=True)
        try:
            check(run_python(examples[title]))
        except CheckFailed as failure:
            failures.append(f"the Python example `{title}`: {failure}")
    ran = sum(1 for command in COMMANDS if not command.not_run)
    print(f"{ran} of the README's {len(COMMANDS)} commands run, {len(COMMANDS) - ran} not run, "
          f"and {len(examples)} Python examples")
    for failure in failures:
        print(f"FAILED: {failure}", file=sys.stderr)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
