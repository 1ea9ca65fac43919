#!/bin/bash
# pjlwrap under valgrind: representative runs with no memory error and
# nothing definitely or indirectly lost.
# Usage: valgrind_test.sh FILTER SAMPLES_DIR
set -euo pipefail
filter=$1 samples=$2
command -v valgrind >/dev/null || { echo "valgrind is not installed (Debian package valgrind)"; exit 1; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

sed 's/^\*vekNormalCommand: .*/*vekNormalCommand: "<1B 2C>"/' "$samples/pjlwrap-generic.ppd" > "$work/bad-hex.ppd"
printf '\033%%-12345X@PJL JOB\n%%!PS\nshowpage\n' > "$work/uel.ps"

failures=0
# run NAME PPD JOB: the filter on JOB under valgrind.
run() {
  local name=$1 ppd=$2 job=$3
  if PPD=$ppd valgrind -q --leak-check=full --show-leak-kinds=definite,indirect \
       --errors-for-leak-kinds=definite,indirect --error-exitcode=99 \
       "$filter" 1 user title 1 "Quality=Normal" "$job" > "$work/out" 2> "$work/log"; then
    echo "ok: $name"
  else
    echo "FAIL: $name (status $?)"; grep -v '^DEBUG' "$work/log" | head -40
    failures=$((failures + 1))
  fi
}
run "plain job" "$samples/pjlwrap-generic.ppd" "$samples/sample-job.ps"
run "job with a UEL" "$samples/pjlwrap-generic.ppd" "$work/uel.ps"
run "missing PPD" "$work/missing.ppd" "$samples/sample-job.ps"
run "bad hex group" "$work/bad-hex.ppd" "$samples/sample-job.ps"
[[ $failures -eq 0 ]]
