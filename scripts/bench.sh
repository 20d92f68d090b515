#!/bin/sh
# Builds the benchmarks in Release and prints one table: copy and paste per
# key through the module, beside the host calls it makes and the fewest calls
# that do the same work, the first copy into fresh memory and the clipboard's
# bytes per key.
#
#   sh scripts/bench.sh          takes of 10 thousand, 100 thousand and 1 million keys
#   sh scripts/bench.sh --10m    also 10 million keys (several GB and many minutes more)
#
# Each take runs in a process of its own, so that its scenes are all the
# memory the process holds. TAMBERLO_BENCH_SIZES (keys, space-separated)
# overrides the sizes, TAMBERLO_BENCH_REPETITIONS (default 15; 5 for takes of
# 10 million keys, whose every run takes seconds) and TAMBERLO_BENCH_MIN_TIME
# (seconds per repetition, default 0.1) the sampling.
set -eu
cd "$(dirname "$0")/.."

sizes="10000 100000 1000000"
for argument in "$@"; do
    case "$argument" in
    --10m) sizes="$sizes 10000000" ;;
    *)
        echo "usage: sh scripts/bench.sh [--10m]" >&2
        exit 2
        ;;
    esac
done
sizes="${TAMBERLO_BENCH_SIZES:-$sizes}"
min_time="${TAMBERLO_BENCH_MIN_TIME:-0.1}"

sh scripts/setup.sh
cmake --preset release >/dev/null
cmake --build --preset release --target copy_paste_bench

results=build/release/bench/results
rm -rf "$results"
mkdir -p "$results"
for keys in $sizes; do
    repetitions=15
    [ "$keys" -lt 10000000 ] || repetitions=5
    repetitions="${TAMBERLO_BENCH_REPETITIONS:-$repetitions}"
    for items in 10 100; do
        name="items${items}_keys${keys}"
        echo "bench: $items items x 9 channels, $keys keys ($(date +%H:%M:%S))" >&2
        # Repetitions run in rounds, each running every benchmark of the take
        # once in random order, so that the module and the direct calls share
        # whatever the machine does meanwhile. The results keep every
        # repetition: the table takes medians, and its ratios round by round.
        build/release/bench/copy_paste_bench \
            "--benchmark_filter=/items:$items/keys:$keys/" \
            --benchmark_repetitions="$repetitions" \
            --benchmark_enable_random_interleaving=true \
            --benchmark_min_time="$min_time" \
            --benchmark_display_aggregates_only=true \
            --benchmark_out="$results/$name.json" --benchmark_out_format=json \
            >"$results/$name.log" 2>&1 || {
            cat "$results/$name.log" >&2
            exit 1
        }
    done
done

/usr/bin/python3 bench/bench_table.py \
    --title "Tamberlo copy and paste, $(git rev-parse --short HEAD 2>/dev/null || echo unknown), $(date -u +%Y-%m-%d)" \
    "$results"/*.json
