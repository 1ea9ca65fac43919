#!/bin/bash
# Installs what is missing, then builds pjlwrap and runs every test twice:
# once as built for use, once built with AddressSanitizer and
# UndefinedBehaviorSanitizer (halting on the first error, leaks detected).
# Every warning is an error in both builds.
# Usage: scripts/test.sh [ctest arguments]     e.g. scripts/test.sh -L unit
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/deps.sh
jobs=$(nproc)

# build_and_test DIR [cmake options]: configure, build and run the tests in DIR.
build_and_test() {
  local dir=$1
  shift
  echo "== $dir =="
  cmake -S . -B "$dir" -DPJLWRAP_WERROR=ON -DBUILD_TESTING=ON "$@" >/dev/null
  cmake --build "$dir" -j"$jobs"
  (cd "$dir" && ctest --output-on-failure -j"$jobs" "${ctest_args[@]}")
}

ctest_args=("$@")
build_and_test build

export ASAN_OPTIONS=halt_on_error=1:detect_leaks=1
export UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1
build_and_test build-sanitize -DPJLWRAP_SANITIZE=ON
