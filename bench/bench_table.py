#!/usr/bin/python3
"""Prints the table of scripts/bench.sh from Google Benchmark's JSON output.

Usage: bench_table.py [--title TEXT] RESULT.json...

Times are the benchmark thread's CPU time (Google Benchmark's cpu_time), the
median of the interleaved repetitions, divided by the keys one run moves.
"""

import argparse
import json
import re
import sys

NAME = re.compile(r"^(?P<command>\w+)/(?P<how>\w+)/items:(?P<items>\d+)/keys:(?P<keys>\d+)/(?P<placement>\w+)")
TO_NS = {"ns": 1.0, "us": 1e3, "ms": 1e6, "s": 1e9}


def size_name(keys):
    for unit, name in ((1000000, "M"), (1000, "k")):
        if keys >= unit and keys % unit == 0:
            return f"{keys // unit}{name}"
    return str(keys)


def read(paths):
    """(command, how, items, keys, placement) -> the run's median record."""
    runs = {}
    errors = []
    context = None
    repetitions = set()
    for path in paths:
        with open(path, encoding="utf-8") as file:
            data = json.load(file)
        context = context or data.get("context", {})
        for run in data.get("benchmarks", []):
            match = NAME.match(run.get("run_name", run["name"]))
            if run.get("error_occurred"):
                errors.append(f"{run['name']}: {run.get('error_message', '')}")
                continue
            if not match:
                continue
            if run["run_type"] == "aggregate":
                if run.get("aggregate_name") != "median":
                    continue
                repetitions.add(run.get("repetitions", 0))
            elif run.get("repetitions", 1) > 1:
                continue  # a single repetition of a run that has a median
            key = (match["command"], match["how"], int(match["items"]), int(match["keys"]), match["placement"])
            runs[key] = run
    return runs, errors, context or {}, repetitions


def ns_per_key(run):
    if run is None or not run.get("keys"):
        return None
    return run["cpu_time"] * TO_NS[run["time_unit"]] / run["keys"]


def cell(value, digits=0, width=10):
    text = "-" if value is None else f"{value:.{digits}f}"
    return text.rjust(width)


def ratio(a, b):
    return None if a is None or b is None or b == 0 else a / b


def print_rows(header, rows):
    print("  ".join(header))
    print("  ".join("-" * len(column) for column in header))
    for row in rows:
        print("  ".join(str(value).rjust(len(column)) if i > 0 else str(value).ljust(len(column))
                        for i, (value, column) in enumerate(zip(row, header))))
    print()


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--title", default="")
    parser.add_argument("results", nargs="+")
    args = parser.parse_args()
    runs, errors, context, repetitions = read(args.results)
    if not runs:
        sys.exit("bench_table: no results to show")

    scenarios = sorted({(k[2], k[3]) for k in runs})
    placements = ("ends", "middle")

    if args.title:
        print(args.title)
    print(f"{context.get('num_cpus', '?')} cores at {context.get('mhz_per_cpu', '?')} MHz; "
          f"thread CPU time, median of {'/'.join(str(r) for r in sorted(repetitions)) or '1'} "
          "interleaved repetitions; ns per key moved")
    print()

    header = ["command", "items x channels", "keys", "window", "module ns/key", "floor ns/key",
              "prescribed ns/key", "module/floor", "module/prescribed"]
    rows = []
    for command in ("copy", "paste"):
        for items, keys in scenarios:
            for placement in placements:
                module = ns_per_key(runs.get((command, "module", items, keys, placement)))
                floor = ns_per_key(runs.get((command, "floor", items, keys, placement)))
                prescribed = ns_per_key(runs.get((command, "prescribed", items, keys, placement)))
                if module is None and floor is None and prescribed is None:
                    continue
                rows.append([command, f"{items} x 9", size_name(keys), placement,
                             cell(module), cell(floor), cell(prescribed),
                             cell(ratio(module, floor), 2), cell(ratio(module, prescribed), 2)])
    print_rows(header, rows)

    # How the module's per-key cost grows with the take.
    header = ["command", "items x channels", "window", "ns/key by size", "largest/smallest"]
    rows = []
    for command in ("copy", "paste"):
        for items in sorted({s[0] for s in scenarios}):
            for placement in placements:
                costs = [(keys, ns_per_key(runs.get((command, "module", items, keys, placement))))
                         for i, keys in scenarios if i == items]
                costs = [(keys, cost) for keys, cost in costs if cost is not None]
                if not costs:
                    continue
                by_size = "  ".join(f"{size_name(keys)}:{cost:.0f}" for keys, cost in costs)
                rows.append([command, f"{items} x 9", placement, by_size,
                             cell(ratio(costs[-1][1], costs[0][1]), 2)])
    print_rows(header, rows)

    header = ["first copy", "items x channels", "keys", "fresh ns/key", "warm ns/key", "fresh/warm",
              "fresh faults/key", "warm faults/key"]
    rows = []
    for items, keys in scenarios:
        fresh = runs.get(("copy", "fresh", items, keys, "ends"))
        warm = runs.get(("copy", "module", items, keys, "ends"))
        if fresh is None:
            continue
        rows.append(["copy", f"{items} x 9", size_name(keys), cell(ns_per_key(fresh)),
                     cell(ns_per_key(warm)), cell(ratio(ns_per_key(fresh), ns_per_key(warm)), 2),
                     cell(fresh.get("faults_per_key"), 4),
                     cell(None if warm is None else warm.get("faults_per_key"), 4)])
    print_rows(header, rows)

    header = ["clipboard", "items x channels", "keys", "record bytes/key", "field bytes/key",
              "records/fields"]
    rows = []
    for items, keys in scenarios:
        run = runs.get(("clipboard", "bytes", items, keys, "ends"))
        if run is None:
            continue
        rows.append(["bytes", f"{items} x 9", size_name(keys), cell(run["record_bytes_per_key"], 2),
                     cell(run["field_bytes_per_key"], 0),
                     cell(ratio(run["record_bytes_per_key"], run["field_bytes_per_key"]), 4)])
    print_rows(header, rows)

    for error in errors:
        print(f"failed: {error}")


if __name__ == "__main__":
    main()
