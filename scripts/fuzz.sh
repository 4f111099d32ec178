#!/usr/bin/env bash
# Builds the request-encoding fuzzer with clang and runs it for the given number of seconds
# (60 by default) over the committed corpus. New inputs go to build-fuzz/new-corpus; fold
# the useful ones back with: build-fuzz/tests/fuzz/fuzz_build_post_data -merge=1 \
#     tests/fuzz/corpus build-fuzz/new-corpus
set -euo pipefail
LESSA_ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
source "$LESSA_ROOT/scripts/ensure-deps.sh"
lessa_ensure_deps
seconds=${1:-60}
build_dir="$LESSA_ROOT/build-fuzz"
cmake -S "$LESSA_ROOT" -B "$build_dir" -G Ninja -DCMAKE_CXX_COMPILER=clang++ \
    -DLESSA_FUZZ=ON -DLESSA_SANITIZE=ON -DLESSA_BUILD_TESTS=OFF -DLESSA_BUILD_TOOLS=OFF >/dev/null
cmake --build "$build_dir" --target fuzz_build_post_data
mkdir -p "$build_dir/new-corpus" "$build_dir/crashes"
echo "Fuzzing buildPostData for ${seconds} s"
"$build_dir/tests/fuzz/fuzz_build_post_data" -max_total_time="$seconds" -max_len=4096 \
    -print_final_stats=1 -artifact_prefix="$build_dir/crashes/" \
    "$build_dir/new-corpus" "$LESSA_ROOT/tests/fuzz/corpus" 2>&1 | grep -vE '^#[0-9]+\s+(NEW|REDUCE|pulse)'
