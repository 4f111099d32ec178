#!/usr/bin/env bash
# Builds in Release mode (the bench preset) and runs every benchmark against its baseline, then
# writes the table to docs/benchmarks.md. Takes a few minutes; the machine should be otherwise
# idle.
set -euo pipefail
LESSA_ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
# bench/bench.sh windows: only the start-up of the shipped 32-bit Windows build, under Wine.
[[ ${1:-} == windows ]] && exec "$LESSA_ROOT/bench/bench-windows.sh"
"$LESSA_ROOT/scripts/deps.sh" linux
source "$LESSA_ROOT/scripts/deps.sh"
lessa_install libbenchmark-dev valgrind
(cd "$LESSA_ROOT" && cmake --preset bench && cmake --build --preset bench)
build_dir="$LESSA_ROOT/build-bench"
results="$build_dir/results"
rm -rf "$results" && mkdir -p "$results"
repetitions=${LESSA_BENCH_REPETITIONS:-5}
# Each benchmark's repetitions interleaved at random with its baseline's, so that a drift of
# the machine (another process, the CPU's clock) weighs on both alike.
gbench=(--benchmark_repetitions="$repetitions" --benchmark_enable_random_interleaving=true
    --benchmark_format=json)

# The product reads images/ and ../mainqss/ from its working directory: build-bench/.
cd "$build_dir"
echo "== log handler"
bench/bench_log "${gbench[@]}" --benchmark_min_time=0.5 >"$results/log.json"
echo "== request encoding"
bench/bench_encoding "${gbench[@]}" --benchmark_min_time=0.2 >"$results/encoding.json"
echo "== cloud client"
bench/bench_cloud "${gbench[@]}" --benchmark_min_time=1 >"$results/cloud.json" 2>/dev/null
# Instructions per request, which no scheduler moves: each client and window counted under
# callgrind for 200 and for 1,200 requests; the difference leaves out the set-up.
echo "== cloud client, instructions"
for client in TzCloud BareQnam; do
    for window in 1 8 64; do
        for requests in 200 1200; do
            LESSA_BENCH_ITERATIONS=$requests valgrind --tool=callgrind \
                --callgrind-out-file="$results/callgrind.out" bench/bench_cloud \
                --benchmark_filter="^BM_$client/outstanding:$window/" >/dev/null 2>&1
            echo "$client $window $requests $(sed -n 's/^totals: //p' "$results/callgrind.out")"
        done
    done
done >"$results/cloud-instructions.txt"
rm -f "$results/callgrind.out"

# Start-up and guide need a display: one Xvfb for all runs, so none pays for starting it.
x_state="$build_dir/x.state"
"$LESSA_ROOT/scripts/x-server.sh" start "$x_state"
trap '"$LESSA_ROOT/scripts/x-server.sh" stop "$x_state"' EXIT
DISPLAY=$(head -1 "$x_state")
export DISPLAY
echo "== start-up"
python3 "$LESSA_ROOT/bench/bench_report.py" startup bench/bench_startup 15 >"$results/startup.json"
echo "== guide"
bench/bench_guide "${gbench[@]/--benchmark_repetitions=*/--benchmark_repetitions=3}" \
    >"$results/guide.json" 2>/dev/null

python3 "$LESSA_ROOT/bench/bench_report.py" report "$results" "$LESSA_ROOT/docs/benchmarks.md"
echo "Wrote docs/benchmarks.md"
