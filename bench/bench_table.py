#!/usr/bin/python3
"""Prints the table of scripts/bench.sh from Google Benchmark's JSON output.

Usage: bench_table.py [--title TEXT] RESULT.json...

Every time is the benchmark thread's CPU time (Google Benchmark's cpu_time)
of one repetition, divided by the keys one run moves; a cost is the median
over the repetitions. The repetitions of a take run in rounds, each round
running every benchmark of the take once in random order, so a ratio of two
costs is taken round by round and its median shown: a machine that slows
down for a while then slows both sides of a ratio alike.
"""

import argparse
import json
import re
import statistics
import sys

NAME = re.compile(r"^(?P<command>\w+)/(?P<how>\w+)/items:(?P<items>\d+)/keys:(?P<keys>\d+)/(?P<placement>\w+)")
TO_NS = {"ns": 1.0, "us": 1e3, "ms": 1e6, "s": 1e9}


class Result:
    """The repetitions of one benchmark, in the order they ran."""

    def __init__(self):
        self.repetitions = []  # each repetition's JSON record

    def ns_per_key(self):
        """Each repetition's nanoseconds per key."""
        return [run["cpu_time"] * TO_NS[run["time_unit"]] / run["keys"]
                for run in self.repetitions if run.get("keys")]

    def cost(self):
        costs = self.ns_per_key()
        return statistics.median(costs) if costs else None

    def counter(self, name):
        values = [run[name] for run in self.repetitions if name in run]
        return statistics.median(values) if values else None


def read(paths):
    """Per file, (command, how, items, keys, placement) -> Result; the failures; the context."""
    runs = []
    failures = []
    context = {}
    for path in paths:
        with open(path, encoding="utf-8") as file:
            data = json.load(file)
        context = context or data.get("context", {})
        results = {}
        for run in data.get("benchmarks", []):
            if run.get("error_occurred"):
                failures.append(f"{run['name']}: {run.get('error_message', '')}")
                continue
            match = NAME.match(run.get("run_name", run["name"]))
            if not match or run["run_type"] != "iteration":
                continue
            key = (match["command"], match["how"], int(match["items"]), int(match["keys"]),
                   match["placement"])
            results.setdefault(key, Result()).repetitions.append(run)
        runs.append(results)
    return runs, failures, context


def paired_ratio(a, b):
    """The median of a/b over the rounds both ran in."""
    if a is None or b is None:
        return None
    ratios = [x / y for x, y in zip(a.ns_per_key(), b.ns_per_key()) if y > 0]
    return statistics.median(ratios) if ratios else None


def size_name(keys):
    for unit, name in ((1000000, "M"), (1000, "k")):
        if keys >= unit and keys % unit == 0:
            return f"{keys // unit}{name}"
    return str(keys)


def cell(value, digits=0):
    return "-" if value is None else f"{value:.{digits}f}"


def print_rows(header, rows):
    if not rows:
        return
    widths = [max(len(str(row[i])) for row in [header] + rows) for i in range(len(header))]
    def line(row):
        return "  ".join(str(value).ljust(width) if i == 0 else str(value).rjust(width)
                         for i, (value, width) in enumerate(zip(row, widths)))
    print(line(header))
    print("  ".join("-" * width for width in widths))
    for row in rows:
        print(line(row))
    print()


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--title", default="")
    parser.add_argument("results", nargs="+")
    args = parser.parse_args()
    runs, failures, context = read(args.results)
    # A take measured by two runs shows as the first measured it.
    results = {}
    for run in runs:
        for key, result in run.items():
            results.setdefault(key, result)
    if not results:
        sys.exit("bench_table: no results to show")

    def get(command, how, items, keys, placement):
        return results.get((command, how, items, keys, placement))

    takes = sorted({(key[2], key[3]) for key in results})
    shapes = sorted({items for items, _ in takes})
    placements = ("ends", "middle")
    rounds = sorted({len(result.repetitions) for key, result in results.items()
                     if key[0] != "clipboard"})

    if args.title:
        print(args.title)
    print(f"{context.get('num_cpus', '?')} cores at {context.get('mhz_per_cpu', '?')} MHz. "
          f"ns/key: thread CPU time per key moved, median of {' or '.join(map(str, rounds))} "
          "interleaved repetitions;")
    print("ratios: median of the ratios taken repetition round by repetition round.")
    print()

    header = ["command", "items x channels", "keys", "window", "module ns/key", "floor ns/key",
              "prescribed ns/key", "module/floor", "module/prescribed"]
    rows = []
    for command in ("copy", "paste"):
        for items, keys in takes:
            for placement in placements:
                module, floor, prescribed = (get(command, how, items, keys, placement)
                                             for how in ("module", "floor", "prescribed"))
                if module is None and floor is None and prescribed is None:
                    continue
                rows.append([command, f"{items} x 9", size_name(keys), placement,
                             cell(module and module.cost()), cell(floor and floor.cost()),
                             cell(prescribed and prescribed.cost()),
                             cell(paired_ratio(module, floor), 2),
                             cell(paired_ratio(module, prescribed), 2)])
    print_rows(header, rows)

    # How the module's cost per key grows with the take: each size against
    # the smallest measured in the same run, round by round.
    growth = {}
    for run in runs:
        for (command, how, items, keys, placement), result in run.items():
            if how != "module" or command not in ("copy", "paste"):
                continue
            smallest = min(k for (c, h, i, k, p) in run if (c, h, i, p) == (command, how, items, placement))
            if keys != smallest:
                base = run[(command, how, items, smallest, placement)]
                growth.setdefault((command, items, placement), {})[keys] = (
                    smallest, paired_ratio(result, base))
    header = ["module", "items x channels", "window", "ns/key against the smallest take, same run",
              "largest/smallest"]
    rows = []
    for command in ("copy", "paste"):
        for items in shapes:
            for placement in placements:
                sized = sorted(growth.get((command, items, placement), {}).items())
                if not sized:
                    continue
                rows.append([command, f"{items} x 9", placement,
                             "  ".join(f"{size_name(keys)}/{size_name(base)}: {ratio:.2f}"
                                       for keys, (base, ratio) in sized),
                             cell(sized[-1][1][1], 2)])
    print_rows(header, rows)

    header = ["first copy", "items x channels", "keys", "fresh ns/key", "warm ns/key",
              "fresh/warm", "fresh faults/key", "warm faults/key"]
    rows = []
    for items, keys in takes:
        fresh = get("copy", "fresh", items, keys, "ends")
        warm = get("copy", "module", items, keys, "ends")
        if fresh is None:
            continue
        rows.append(["copy", f"{items} x 9", size_name(keys), cell(fresh.cost()),
                     cell(warm and warm.cost()), cell(paired_ratio(fresh, warm), 2),
                     cell(fresh.counter("faults_per_key"), 4),
                     cell(warm and warm.counter("faults_per_key"), 4)])
    print_rows(header, rows)

    header = ["clipboard", "items x channels", "keys", "record bytes/key", "field bytes/key",
              "records/fields"]
    rows = []
    for items, keys in takes:
        result = get("clipboard", "bytes", items, keys, "ends")
        if result is None:
            continue
        records = result.counter("record_bytes_per_key")
        fields = result.counter("field_bytes_per_key")
        rows.append(["bytes", f"{items} x 9", size_name(keys), cell(records, 2), cell(fields),
                     cell(records / fields if fields else None, 4)])
    print_rows(header, rows)

    for failure in failures:
        print(f"failed: {failure}")


if __name__ == "__main__":
    main()
