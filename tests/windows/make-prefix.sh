#!/usr/bin/env bash
# A Wine prefix for the VM's test, made on the host once: a new one would take minutes under
# the VM's software emulation. Its wineserver is waited for, so that no registry write is
# under way while the VM reads the prefix.
#   make-prefix.sh PREFIX
set -euo pipefail
export WINEPREFIX=${1:?prefix} WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
if [ ! -f "$WINEPREFIX/system.reg" ]; then
  mkdir -p "$WINEPREFIX"
  wine wineboot --init </dev/null >/dev/null 2>&1
fi
wineserver -w
