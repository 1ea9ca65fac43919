#!/bin/bash
# Builds pjlwrap and runs it on the sample job with the sample PPD, the way
# CUPS would, showing the log and the start of the output with control
# characters made visible (^[ is ESC).
# Usage: scripts/demo.sh [job options]   (default: Quality=Best)
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/deps.sh
cmake -S . -B build -DBUILD_TESTING=OFF >/dev/null
cmake --build build -j"$(nproc)" >/dev/null

options=${1:-Quality=Best}
out=$(mktemp)
trap 'rm -f "$out"' EXIT
echo "== log (standard error) =="
PPD=samples/pjlwrap-generic.ppd ./build/pjlwrap 1 "${USER:-$(id -un)}" sample 1 "$options" samples/sample-job.ps > "$out"
echo
echo "== output (standard output), first lines =="
head -n 10 "$out" | cat -v
echo "... ($(wc -c < "$out") bytes in all)"
