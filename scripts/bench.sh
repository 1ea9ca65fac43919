#!/bin/bash
# Builds pjlwrap in Release and prints the benchmark table: the copy of a job
# against dd bs=8192 and cat, system calls per chunk, peak memory, and
# start-up against a program that only opens and marks the PPD.
# Usage: scripts/bench.sh [MiB] [runs]      (default: 1024 MiB, 5 runs)
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/deps.sh
command -v strace >/dev/null || apt-get install -y -q strace
cmake -S . -B build-release -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF >/dev/null
cmake --build build-release -j"$(nproc)" --target pjlwrap pjlwrap_floor pjlwrap_bench >/dev/null
echo "$(date -u '+%Y-%m-%d %H:%M UTC'); $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | xargs)"
build-release/pjlwrap_bench build-release/pjlwrap build-release/pjlwrap_floor \
  samples/pjlwrap-generic.ppd "${1:-1024}" "${2:-5}"
