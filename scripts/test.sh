#!/bin/bash
# Installs what is missing, builds pjlwrap with every warning an error, and
# runs all its tests.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/deps.sh
cmake -S . -B build -DPJLWRAP_WERROR=ON -DBUILD_TESTING=ON
cmake --build build -j"$(nproc)"
cd build
ctest --output-on-failure -j"$(nproc)"
