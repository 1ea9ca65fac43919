#!/bin/bash
# Builds the fuzz targets with Clang, libFuzzer, AddressSanitizer and
# UndefinedBehaviorSanitizer, and runs each for the given time, both at once.
# Usage: scripts/fuzz.sh [SECONDS]        (default 60; findings land in build-fuzz/)
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-60}
bash scripts/deps.sh
CXX=clang++ cmake -S . -B build-fuzz -DPJLWRAP_FUZZ=ON -DPJLWRAP_SANITIZE=ON \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo -DBUILD_TESTING=ON >/dev/null
cmake --build build-fuzz -j"$(nproc)" --target fuzz_decode fuzz_ppd >/dev/null

pids=()
for target in decode ppd; do
  dir=build-fuzz/fuzz-$target
  mkdir -p "$dir/corpus" "$dir/artifacts"
  # -close_fd_mask=2: the PPD target logs every step like the filter; keep
  # libFuzzer's own report readable.
  build-fuzz/tests/fuzz/fuzz_$target -max_total_time="$seconds" -print_final_stats=1 \
    -close_fd_mask=2 -artifact_prefix="$dir/artifacts/" \
    "$dir/corpus" "tests/fuzz/corpus/$target" > "$dir/log" 2>&1 &
  pids+=($!)
done
status=0
for pid in "${pids[@]}"; do wait "$pid" || status=1; done
for target in decode ppd; do
  dir=build-fuzz/fuzz-$target
  echo "== fuzz_$target =="
  grep -E "^stat::(number_of_executed_units|average_exec_per_sec|peak_rss_mb|new_units_added)" "$dir/log" || true
  grep -E "^#[0-9]+.*(DONE|cov:)" "$dir/log" | tail -1
  echo "corpus: $(ls "$dir/corpus" | wc -l) inputs; findings: $(ls "$dir/artifacts" | wc -l)"
  ls "$dir/artifacts"
done
exit $status
