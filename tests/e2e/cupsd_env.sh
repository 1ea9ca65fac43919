# pjlwrap end-to-end tests: a private cupsd for one test run.
# Source this file, then call cupsd_start; cupsd_stop runs on exit.
#   PJLWRAP_BUILD   the build folder (the filter is installed from it)
# It sets T (the run's folder), OUT (where devices write, writable by lp),
# and CUPS_SERVER, so lp, lpadmin and lpstat talk to this cupsd only.

set -euo pipefail

E2E_DIR=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
T=$(mktemp -d /tmp/pjlwrap-cupsd.XXXXXX)
chmod 755 "$T"   # cupsd's User lp walks through it
OUT=$T/out
CUPSD_PID=

cupsd_stop() {
  if [[ -n $CUPSD_PID ]] && kill -0 "$CUPSD_PID" 2>/dev/null; then
    kill -TERM "$CUPSD_PID" 2>/dev/null || true
    for _ in $(seq 50); do kill -0 "$CUPSD_PID" 2>/dev/null || break; sleep 0.1; done
    kill -KILL "$CUPSD_PID" 2>/dev/null || true
  fi
  if [[ -z ${KEEP_CUPSD_DIR:-} ]]; then rm -rf "$T"; else echo "kept $T"; fi
}
trap cupsd_stop EXIT

# A loopback port that nothing listens on.
free_port() {
  local port
  while :; do
    port=$((20000 + RANDOM % 40000))
    (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null || { echo "$port"; return; }
  done
}

# Lays out the configuration, installs the filter and starts cupsd.
cupsd_start() {
  for tool in cupsd lpadmin lpstat lp cancel; do
    command -v "$tool" >/dev/null || PATH=$PATH:/usr/sbin
    command -v "$tool" >/dev/null || { echo "FAIL: $tool is not installed (run scripts/deps.sh)"; exit 1; }
  done
  local sysbin; sysbin=$(cups-config --serverbin)
  mkdir -p "$T"/{conf/ppd,conf/ssl,spool/tmp,cache,state,log,dest,serverbin/filter,serverbin/backend} "$OUT"
  chown lp:lp "$T/spool" "$T/spool/tmp" "$T/cache" "$T/log" "$OUT"
  chmod 0710 "$T/spool"; chmod 1770 "$T/spool/tmp"

  # Install the filter as a packager would, then assemble a ServerBin of the
  # system's filters and backends with ours among them.
  DESTDIR=$T/dest cmake --install "$PJLWRAP_BUILD" >/dev/null
  local installed; installed=$(find "$T/dest" -path '*/filter/pjlwrap' -type f)
  install -o root -g root -m 0755 "$installed" "$T/serverbin/filter/pjlwrap"
  for f in "$sysbin"/filter/*; do ln -s "$f" "$T/serverbin/filter/"; done
  for f in "$sysbin"/backend/*; do ln -s "$f" "$T/serverbin/backend/"; done
  install -o root -g root -m 0755 "$E2E_DIR/slowfile" "$T/serverbin/backend/slowfile"
  for d in cgi-bin daemon driver monitor notifier; do ln -s "$sysbin/$d" "$T/serverbin/$d"; done
  chmod -R go-w "$T/serverbin"

  PORT=$(free_port)
  cat > "$T/conf/cupsd.conf" <<CONF
Listen 127.0.0.1:$PORT
Listen $T/cups.sock
LogLevel debug
MaxLogSize 0
Browsing No
BrowseLocalProtocols none
WebInterface No
DefaultAuthType None
JobRetryLimit 0
<Location />
  Order allow,deny
  Allow all
</Location>
<Policy default>
  <Limit All>
    Order deny,allow
  </Limit>
</Policy>
CONF
  cat > "$T/conf/cups-files.conf" <<CONF
ServerRoot $T/conf
ServerBin $T/serverbin
RequestRoot $T/spool
TempDir $T/spool/tmp
CacheDir $T/cache
StateDir $T/state
AccessLog $T/log/access_log
ErrorLog $T/log/error_log
PageLog $T/log/page_log
FileDevice Yes
User lp
Group lp
SystemGroup root
Sandboxing Relaxed
CONF
  export CUPS_SERVER=$T/cups.sock
  export CUPS_SERVERROOT=$T/conf
  cupsd -f -c "$T/conf/cupsd.conf" -s "$T/conf/cups-files.conf" > "$T/log/cupsd.out" 2>&1 &
  CUPSD_PID=$!
  for _ in $(seq 100); do
    lpstat -r 2>/dev/null | grep -q "is running" && return 0
    kill -0 "$CUPSD_PID" 2>/dev/null || break
    sleep 0.1
  done
  echo "FAIL: cupsd did not start"; cat "$T/log/cupsd.out" "$T/log/error_log" 2>/dev/null | tail -30
  exit 1
}
