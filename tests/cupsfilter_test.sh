#!/bin/bash
# The filter run by the real cupsfilter behind pstops: the output is the PJL
# header followed byte for byte by what pstops made of the job.
# Usage: cupsfilter_test.sh FILTER SAMPLES_DIR
set -euo pipefail
filter=$1 samples=$2
command -v cupsfilter >/dev/null || { echo "cupsfilter is not installed (Debian package cups)"; exit 1; }

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
# A PPD like the sample whose *cupsFilter names the built filter by its path.
sed "s#^\*cupsFilter: .*#*cupsFilter: \"application/vnd.cups-postscript 0 $filter\"#" \
  "$samples/pjlwrap-generic.ppd" > "$work/test.ppd"

cupsfilter -p "$work/test.ppd" -m application/vnd.cups-postscript -o Quality=Best \
  "$samples/sample-job.ps" > "$work/pstops.out" 2>/dev/null
cupsfilter -p "$work/test.ppd" -m printer/test -e -o Quality=Best \
  "$samples/sample-job.ps" > "$work/out" 2> "$work/log"

printf '\033%%-12345X@PJL\n@PJL SET RESOLUTION=1200\n@PJL SET ECONOMODE=OFF\n@PJL SET RET=DARK\n@PJL SET JOBATTR="@QUALITY=BEST"\n@PJL ENTER LANGUAGE=POSTSCRIPT\n' > "$work/expected"
cat "$work/pstops.out" >> "$work/expected"

if ! cmp "$work/expected" "$work/out"; then
  echo "cupsfilter output differs from header + pstops output"; cat "$work/log"; exit 1
fi
grep -q "^INFO: $filter (PID [0-9]*) exited with no errors" "$work/log" \
  || { echo "the filter did not run cleanly"; cat "$work/log"; exit 1; }
echo "cupsfilter: $(wc -c < "$work/out") bytes as expected"
