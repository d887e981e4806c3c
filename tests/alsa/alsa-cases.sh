#!/usr/bin/env bash
# The ALSA cases, run inside scripts/alsa-vm: movrin-send into movrin-device over the sequencer
# (the cases of tests/e2e), through "Midi Through", and into a raw MIDI port that
# movrin-raw-device reads. One line per case; fails when any case failed.
#   alsa-cases.sh SEND DEVICE RAW_DEVICE
set -uo pipefail
send=${1:?movrin-send} device=${2:?movrin-device} raw=${3:?movrin-raw-device}
here=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d)
failed=0
trap 'kill $(jobs -p) 2>/dev/null; rm -rf "$work"' EXIT

check() {  # NAME COMMAND...
  if "${@:2}" >"$work/log" 2>&1; then
    echo "ok [$1]"
  else
    echo "FAIL [$1]"
    sed 's/^/  /' "$work/log"
    failed=$((failed + 1))
  fi
}
started() {  # OUTPUT: waits for the program writing OUTPUT to print "ready"
  for _ in $(seq 1 300); do
    grep -q ready "$1" 2>/dev/null && return 0
    sleep 0.1
  done
  echo "not ready: $(cat "$1")"
  return 1
}
# "Midi Through" passes the blocks on to the device's input.
through() {
  head -c 5000 /dev/urandom >"$work/through.bin"
  "$device" --name thru-dev --once --expect "$work/through.bin" >"$work/dev.out" &
  local pid=$! to
  started "$work/dev.out" || return 1
  to=$("$send" --list | sed -n 's/.*thru-dev:in \([0-9]*:[0-9]*\) *\[ALSA\]$/\1/p')
  aconnect "Midi Through:0" "$to" || return 1
  "$send" --out "Midi Through" --in thru-dev --timeout 20 "$work/through.bin" && wait "$pid"
}
# 300 KiB make 343 blocks: the block numbers' low byte takes every value, F0-FF included.
raw() {
  head -c 307200 /dev/urandom >"$work/raw.bin"
  "$send" --export "$work/raw.syx" "$work/raw.bin" >/dev/null || return 1
  "$raw" /dev/snd/midiC0D0 "$work/raw.syx" >"$work/raw.out" &
  local pid=$!
  started "$work/raw.out" || return 1
  "$send" --out "Virtual Raw MIDI 0-0" --in "Virtual Raw MIDI 0-0" --timeout 20 "$work/raw.bin" &&
    wait "$pid" && cat "$work/raw.out"
}

"$send" --list | grep -q '^MIDI API: ALSA' || { echo "FAIL: the tools do not reach ALSA"; exit 1; }
for case_name in size-1 size-897 size-2688 size-307200 noise silent closed; do
  check "$case_name" "$here/../e2e/transfer.sh" "$send" "$device" "$case_name"
done
check through through
check raw-midi raw
exit $((failed > 0))
