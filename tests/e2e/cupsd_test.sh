#!/bin/bash
# pjlwrap end-to-end: jobs printed through a private cupsd, with pstops in
# front of the installed filter, and every byte that reaches the device
# compared with what it should be.
# Usage: cupsd_test.sh BUILD_DIR SOURCE_DIR
PJLWRAP_BUILD=$1
SRC=$2
source "$(dirname "$0")/cupsd_env.sh"
ms() { echo $(($(date +%s%N) / 1000000)); }
started=$(ms)
cupsd_start

# ---- The installation ----------------------------------------------------------
# cupsd_start installed the project into $T/dest as a packager would.
installed_filter=$(find "$T/dest" -path '*/filter/pjlwrap')
installed_ppd=$(find "$T/dest" -path '*/ppd/pjlwrap/pjlwrap-generic.ppd')
[[ $(stat -c %a "$installed_filter") == 755 ]] || fail "installed filter mode $(stat -c %a "$installed_filter")"
[[ $installed_filter == "$T/dest$(cups-config --serverbin)/filter/pjlwrap" ]] \
  || fail "filter installed at $installed_filter"
[[ -n $(find "$T/dest" -path '*/man8/pjlwrap.8') ]] || fail "no man page installed"
cupstestppd -q -R "$T/dest" "$installed_ppd" || fail "cupstestppd on the installed sample PPD: $(cupstestppd -R "$T/dest" "$installed_ppd")"

SAMPLE_PPD=$SRC/samples/pjlwrap-generic.ppd
JOB=$SRC/samples/sample-job.ps
failures=0 checked=0 bytes=0

fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

# lpadmin without its warning that PPD drivers are deprecated.
admin() { lpadmin "$@" 2> >(grep -v 'Printer drivers are deprecated' >&2); }

# ---- PPD variants of the sample ----------------------------------------------

# Prints the sample PPD without the named UI options (and presets naming them).
ppd_without() {
  awk -v drop="$*" '
    BEGIN { n = split(drop, d, " "); for (i = 1; i <= n; i++) skip["*OpenUI *" d[i]] = "*CloseUI: *" d[i] }
    inblock { if (index($0, inblock) == 1) inblock = ""; next }
    { for (k in skip) if (index($0, k) == 1) { inblock = skip[k]; next } }
    /^\*APPrinterPreset/ { for (i = 1; i <= n; i++) if (index($0, "*" d[i] " ")) { preset = 1; next } }
    preset { if ($0 == "*End") preset = 0; next }
    { print }' "$SAMPLE_PPD"
}
mkdir -p "$T/ppd"
cp "$SAMPLE_PPD" "$T/ppd/sample.ppd"
ppd_without Quality > "$T/ppd/resonly.ppd"
ppd_without Quality Resolution > "$T/ppd/noquality.ppd"
{ cat "$SAMPLE_PPD"
  printf '%s\n' '*JCLBegin: "<1B>%-12345X@PJL JOB<0A>"' \
    '*JCLToPSInterpreter: "@PJL ENTER LANGUAGE = POSTSCRIPT <0A>"' \
    '*JCLEnd: "<1B>%-12345X@PJL EOJ<0A><1B>%-12345X"'; } > "$T/ppd/jcl.ppd"
gzip -c "$T/ppd/sample.ppd" > "$T/ppd/gz.ppd.gz"
grep -q '^\*OpenUI \*Quality' "$T/ppd/resonly.ppd" && { echo "FAIL: fixture"; exit 1; }

# Each variant gets a queue with the filter and a reference queue, the same
# PPD without the *cupsFilter line, whose device receives pstops's output.
for v in sample resonly noquality jcl gz; do
  ppd=$(ls "$T/ppd/$v".ppd*)
  admin -p "$v" -E -v "file://$OUT/$v.prn" -P "$ppd"
  zcat -f "$ppd" | grep -v '^\*cupsFilter' > "$T/ppd/ref-$v.ppd"
  admin -p "ref-$v" -E -v "file://$OUT/ref-$v.prn" -P "$T/ppd/ref-$v.ppd"
done

# ---- Expected bytes ----------------------------------------------------------

UEL=$'\x1b%-12345X'
declare -A COMMAND=(
  [Draft]=$'@PJL SET RESOLUTION=300\n@PJL SET ECONOMODE=ON\n@PJL SET JOBATTR="@QUALITY=DRAFT"\n'
  [Normal]=$'@PJL SET RESOLUTION=600\n@PJL SET ECONOMODE=OFF\n@PJL SET JOBATTR="@QUALITY=NORMAL"\n'
  [Best]=$'@PJL SET RESOLUTION=1200\n@PJL SET ECONOMODE=OFF\n@PJL SET RET=DARK\n@PJL SET JOBATTR="@QUALITY=BEST"\n'
  [300dpi]=$'@PJL SET RESOLUTION=300\n'
  [600dpi]=$'@PJL SET RESOLUTION=600\n'
  [none]=''
)

# expected REF COMMAND: the filter's output for a job that pstops made into REF.
expected() {
  local ref=$1 cmd=${COMMAND[$2]}
  if [[ $(head -c 9 "$ref") == "$UEL" ]]; then
    printf '%s%s' "$UEL" "$cmd"; tail -c +10 "$ref"
  else
    printf '%s@PJL\n%s@PJL ENTER LANGUAGE=POSTSCRIPT\n' "$UEL" "$cmd"; cat "$ref"
  fi
}

# ---- Printing ------------------------------------------------------------------

# submit QUEUE OPTIONS [FILE]: queues FILE (the sample job) and prints its id.
submit() {
  local queue=$1 opts=() o
  for o in $2; do opts+=(-o "$o"); done
  lp -d "$queue" -t sample "${opts[@]}" "${3:-$JOB}" | sed -n 's/^request id is \([^ ]*\) .*/\1/p'
}

# Waits until no job is left to print.
wait_idle() {
  local deadline=$((SECONDS + ${1:-120}))
  while [[ -n $(lpstat -o 2>/dev/null) ]]; do
    ((SECONDS < deadline)) || { fail "jobs still pending: $(lpstat -o)"; return 1; }
    sleep 0.1
  done
}

# compare NAME EXPECTED ACTUAL
compare() {
  checked=$((checked + 1))
  if cmp -s "$2" "$3"; then
    bytes=$((bytes + $(stat -c %s "$3")))
  else
    fail "$1: output differs ($(stat -c %s "$3") bytes, expected $(stat -c %s "$2"))"
    cmp "$2" "$3" | head -3 || true
  fi
}

# One job per case through the filter and one through the reference queue.
CASES=(
  "sample||Normal"
  "sample|Quality=Best|Best"
  "sample|print-quality=3|Draft"
  "sample|print-quality=5|Best"
  "sample|Resolution=300dpi|Normal"
  "resonly||600dpi"
  "resonly|Resolution=300dpi|300dpi"
  "resonly|resolution=300dpi|300dpi"
  "resonly|printer-resolution=300dpi|300dpi"
  "jcl|Quality=Draft|Draft"
  "gz|Quality=Draft|Draft"
  "noquality|Quality=Best|none"
)
for i in "${!CASES[@]}"; do
  IFS='|' read -r v opts cmd <<< "${CASES[$i]}"
  id=$(submit "$v" "$opts")
  ref_id=$(submit "ref-$v" "$opts")
  wait_idle
  # pstops names the job's id in a PJL JOB line; make the reference's match.
  LC_ALL=C sed "s/^\(@PJL JOB .*DISPLAY = \"\)${ref_id##*-} /\1${id##*-} /" \
    "$OUT/ref-$v.prn" > "$T/ref-$i"
  expected "$T/ref-$i" "$cmd" > "$T/expected-$i"
  compare "$v -o '$opts'" "$T/expected-$i" "$OUT/$v.prn"
done
echo "cases: ${#CASES[@]} jobs checked"

# ---- A burst of jobs, options alternating ------------------------------------
# One queue a job, so that each job's output stays on its own device.
BURST=${PJLWRAP_BURST:-50}
for ((j = 0; j < BURST; j++)); do
  i=$((j % 9))   # the sample and resonly cases
  IFS='|' read -r v opts cmd <<< "${CASES[$i]}"
  admin -p "burst-$j" -E -v "file://$OUT/burst-$j.prn" -P "$T/ppd/$v.ppd"
done
burst_start=$(ms)
for ((j = 0; j < BURST; j++)); do
  IFS='|' read -r v opts cmd <<< "${CASES[$((j % 9))]}"
  submit "burst-$j" "$opts" >/dev/null
done
wait_idle 300
burst_end=$(ms)
for ((j = 0; j < BURST; j++)); do
  compare "burst-$j" "$T/expected-$((j % 9))" "$OUT/burst-$j.prn"
done
completed=$(lpstat -W completed -o | wc -l)
echo "burst: $BURST jobs in $((burst_end - burst_start)) ms; $completed jobs completed in all"

# ---- A job cancelled while it prints -----------------------------------------
admin -p slow -E -v "slowfile:$OUT/slow.prn" -P "$T/ppd/sample.ppd"
big=$T/big.ps
{ echo '%!PS-Adobe-3.0'; echo '%%Pages: 1'; echo '%%EndComments'; echo '%%Page: 1 1'
  head -c 30000000 /dev/zero | tr '\0' 'x' | fold -w 79 | sed 's/^/% /'
  echo 'showpage'; echo '%%EOF'; } > "$big"
id=$(submit slow "" "$big")
for _ in $(seq 300); do
  [[ -f $OUT/slow.prn && $(stat -c %s "$OUT/slow.prn") -gt 200000 ]] && break
  sleep 0.1
done
lpstat -o slow | grep -q "^$id " || fail "the big job ended before it could be cancelled"
cancel "$id"
wait_idle 30
sleep 0.5
pgrep -f "$T/serverbin/filter/pjlwrap" >/dev/null && fail "a filter outlived the cancelled job"
lpstat -r | grep -q "is running" || fail "cupsd is not running after the cancel"
lpstat -p slow | grep -q "idle" || fail "queue slow is not idle: $(lpstat -p slow)"
lpstat -a slow | grep -q "accepting" || fail "queue slow does not accept jobs"
submit slow "" >/dev/null
wait_idle 60
compare "slow, after the cancel" "$T/expected-0" "$OUT/slow.prn"
grep -q "\[Job ${id##*-}\] Job canceled by" "$T/log/error_log" || fail "job $id was not cancelled"
[[ $(stat -c %s "$OUT/slow.prn") -lt 30000000 ]] || fail "the cancelled job printed to the end"

# ---- The log -----------------------------------------------------------------
if grep -E '\(.*pjlwrap\) (stopped|crashed)|pjlwrap.*(exited with status|crashed on signal)' "$T/log/error_log"; then
  fail "the filter failed under cupsd"
fi
echo "filter runs without errors: $(grep -c 'pjlwrap) exited with no errors' "$T/log/error_log")"

ended=$(ms)
echo "checked $checked outputs, $bytes bytes compared, $failures failures, $((ended - started)) ms"
[[ $failures -eq 0 ]] && echo "1 passed, 0 failed" || { echo "0 passed, 1 failed"; exit 1; }
