#!/usr/bin/env bash
# Builds the request-encoding fuzzer with clang (the fuzz preset) and runs it for the given
# number of seconds (60 by default) over the committed corpus, as the preset's test. New inputs
# go to build-fuzz/new-corpus, failing ones to build-fuzz/crashes; fold the useful new ones back
# with: build-fuzz/tests/fuzz/fuzz_build_post_data -merge=1 tests/fuzz/corpus build-fuzz/new-corpus
set -euo pipefail
LESSA_ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
source "$LESSA_ROOT/scripts/ensure-deps.sh"
lessa_ensure_deps
seconds=${1:-60}
lessa_build fuzz -DLESSA_FUZZ_SECONDS="$seconds"
echo "Fuzzing buildPostData for ${seconds} s"
# libFuzzer's output and final statistics, without its line per new input and ctest's preamble.
cd "$LESSA_ROOT"
quiet='^[0-9]+: #[0-9]+\s+(NEW|REDUCE|pulse)|^(UpdateCTestConfiguration|Constructing a|Done constructing'
quiet+='|Updating test list|Added 0 tests|Checking test dependency)'
ctest --preset fuzz -V | grep -vE "$quiet"
