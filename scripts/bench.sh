#!/bin/sh
# Builds the benchmarks in Release and prints two tables. The first: copy and
# paste per key through the module, beside the host calls it makes and the
# fewest calls that do the same work, the first copy into fresh memory and the
# clipboard's bytes per key. The second: tamberlo-scene on capture scene files
# of 27 thousand to 2.7 million keys, its round trip and a copy and paste
# against a floor that reads, parses and writes the same file, and each
# step's peak memory against the file's size.
#
#   sh scripts/bench.sh          takes of 10 thousand, 100 thousand and 1 million keys,
#                                scenes of 27 thousand to 2.7 million (about 10 minutes)
#   sh scripts/bench.sh --10m    also 10 million keys in both (about 25 minutes and 8 GB more)
#   sh scripts/bench.sh --quick  one round of the takes of 10 thousand keys and the
#                                scene of 27 thousand, each benchmark run briefly:
#                                proves the script and the release build work, and
#                                measures nothing
#
# One process per shape of take runs its takes together, in rounds: each round
# runs every benchmark of every take once, in random order, so that the
# module, the direct calls and the sizes share whatever the machine does
# meanwhile. With --10m a second process per shape runs the take of 10
# million keys beside the one of 10 thousand, so that the growth from the one
# to the other is measured in the same rounds too. TAMBERLO_BENCH_REPETITIONS
# sets the rounds (default 15; 5 beside 10 million keys, whose every run takes
# seconds) and TAMBERLO_BENCH_MIN_TIME the seconds of each benchmark in a
# round (default 0.1). The scene files run in one process of their own, in
# rounds too, each step's peak in a process apart (bench/scene_bench.cpp);
# TAMBERLO_SCENE_BENCH_ROUNDS sets its rounds (default 10; 5 with --10m).
# Their table ends with one copy of the largest scene (of 2.7 million keys,
# or the smallest with --quick) by the 32-bit build on the Windows DLL: its
# peak, and what the DLL itself held of the heap.
set -eu
cd "$(dirname "$0")/.."

with_10m=no
scene_options=""
takes="10000|100000|1000000"
rounds="${TAMBERLO_BENCH_REPETITIONS:-15}"
min_time="${TAMBERLO_BENCH_MIN_TIME:-0.1}"
for argument in "$@"; do
    case "$argument" in
    --10m)
        with_10m=yes
        scene_options="$scene_options --10m"
        ;;
    --quick)
        scene_options="$scene_options --quick"
        takes="10000"
        rounds=1
        min_time=0.01
        ;;
    *)
        echo "usage: sh scripts/bench.sh [--10m | --quick]" >&2
        exit 2
        ;;
    esac
done

sh scripts/setup.sh
cmake --preset release >/dev/null
cmake --build --preset release --target copy_paste_bench scene_bench tamberlo-scene
# The scene-file benchmark also runs the largest copy once on the module
# users install, the Windows DLL, by the same benchmark built in the 32-bit
# tree (natively, or under qemu-i386 where this machine cannot run 32-bit
# programs).
cmake --preset windows >/dev/null
cmake --build --preset windows --target tamberlo
cmake --preset linux32 >/dev/null
cmake --build --preset linux32 --target scene_bench

results=build/release/bench/results
rm -rf "$results"
mkdir -p "$results"
files=""

# Runs the benchmarks that `filter` picks, `rounds` times, into results/NAME.json;
# the table keeps every repetition, takes medians and its ratios round by round.
run() {
    name="$1" filter="$2" rounds="$3"
    echo "bench: $name ($(date +%H:%M:%S))" >&2
    build/release/bench/copy_paste_bench \
        "--benchmark_filter=$filter" \
        --benchmark_repetitions="$rounds" \
        --benchmark_enable_random_interleaving=true \
        --benchmark_min_time="$min_time" \
        --benchmark_display_aggregates_only=true \
        --benchmark_out="$results/$name.json" --benchmark_out_format=json \
        >"$results/$name.log" 2>&1 || {
        cat "$results/$name.log" >&2
        exit 1
    }
    files="$files $results/$name.json"
}

for items in 10 100; do
    run "items$items" "/items:$items/keys:($takes)/" "$rounds"
done
if [ "$with_10m" = yes ]; then
    for items in 10 100; do
        run "items${items}_10m" "/items:$items/keys:(10000|10000000)/" "${TAMBERLO_BENCH_REPETITIONS:-5}"
    done
fi

# Where two runs measured the same take, the table shows the first.
/usr/bin/python3 bench/bench_table.py \
    --title "Tamberlo copy and paste, $(git rev-parse --short HEAD 2>/dev/null || echo unknown), $(date -u +%Y-%m-%d)" \
    $files

# The scene files, whose table follows; their scenes are kept in
# build/release/bench/scenes/ and made again only when they differ.
echo "bench: scene files ($(date +%H:%M:%S))" >&2
build/release/bench/scene_bench run $scene_options \
    ${TAMBERLO_SCENE_BENCH_ROUNDS:+--rounds "$TAMBERLO_SCENE_BENCH_ROUNDS"} \
    --dll-bench build/linux32/bench/scene_bench --dll-runner build/linux32/run-i386.sh \
    >"$results/scenes.txt" 2>"$results/scenes.log" || {
    cat "$results/scenes.txt" "$results/scenes.log" >&2
    exit 1
}
echo
cat "$results/scenes.txt"
