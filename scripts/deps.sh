#!/bin/bash
# Installs the Debian packages that building and testing pjlwrap need, when
# any is missing.  Run as root on Debian 12.
set -euo pipefail

packages=(
  cmake g++ make                       # the build
  libcups2-dev zlib1g-dev              # libcups and its headers; zlib for the tests
  libgtest-dev libgmock-dev            # unit tests
  cups cups-client cups-daemon         # cupsfilter, cupstestppd, cupsd and pstops for end-to-end tests
  valgrind strace                      # memory checks; system call counts in the benchmark
  clang libclang-rt-14-dev             # fuzzing with libFuzzer (scripts/fuzz.sh)
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if ((${#missing[@]})); then
  echo "Installing: ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -q
  apt-get install -y -q --no-install-recommends "${missing[@]}"
fi
