#!/usr/bin/env python3
"""Checks the floors of the folders: every include points down.

The README's table of folders gives each folder of code a floor. A file may
include what stands in its own folder or on a lower floor; an include that
points to a folder on the same floor or above fails the check, and so does a
folder of code the table does not list, or one it lists that is not there.

Usage: check_layering.py [SOURCE_DIR]
"""

import re
import sys
from pathlib import Path

ROOT = Path(sys.argv[1] if len(sys.argv) > 1 else Path(__file__).resolve().parent.parent)
ROW = re.compile(r"^\| (\d+) \| `([a-z0-9_]+)/` \|")
INCLUDE = re.compile(r'^\s*#\s*include\s+"([a-z0-9_]+)/[^"]+"')
CODE = {".h", ".cpp"}


def floors():
    """Each folder of code and its floor, from the README's table."""
    return {match[2]: int(match[1])
            for line in (ROOT / "README.md").read_text().splitlines()
            if (match := ROW.match(line))}


def main():
    floor_of = floors()
    problems = []
    code_folders = {path.relative_to(ROOT).parts[0] for path in ROOT.rglob("*")
                    if path.suffix in CODE and path.relative_to(ROOT).parts[0] != "build"}
    problems += [f"{folder}/ holds code but has no floor in the README"
                 for folder in sorted(code_folders - floor_of.keys())]
    problems += [f"the README gives {folder}/ a floor, but it holds no code"
                 for folder in sorted(floor_of.keys() - code_folders)]
    includes = 0
    for folder in sorted(floor_of.keys() & code_folders):
        for path in sorted((ROOT / folder).rglob("*")):
            if path.suffix not in CODE:
                continue
            for number, line in enumerate(path.read_text(errors="replace").splitlines(), 1):
                match = INCLUDE.match(line)
                if not match or match[1] == folder or match[1] not in floor_of:
                    continue
                includes += 1
                if floor_of[match[1]] >= floor_of[folder]:
                    problems.append(
                        f"{path.relative_to(ROOT)}:{number}: includes {match[1]}/ (floor "
                        f"{floor_of[match[1]]}) from {folder}/ (floor {floor_of[folder]})")
    for problem in problems:
        print(problem, file=sys.stderr)
    print(f"{includes} includes between {len(floor_of)} folders on "
          f"{len(set(floor_of.values()))} floors: "
          + ("all point down" if not problems else f"{len(problems)} problems"))
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
