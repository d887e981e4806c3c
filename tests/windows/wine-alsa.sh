#!/usr/bin/env bash
# movrin-send.exe under Wine into movrin-device over the ALSA sequencer, run inside
# scripts/alsa-vm: WinMM's devices as Wine makes them of the sequencer's ports. One line per
# case; fails when any case failed.
#   wine-alsa.sh SEND_EXE DEVICE WINEPREFIX
set -uo pipefail
send=${1:?movrin-send.exe} device=${2:?movrin-device}
# Made on the host (make-prefix.sh), written only in the VM's overlay.
export WINEPREFIX=${3:?prefix} WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
[ -x "$device" ] || { echo "no $device: build the dev preset first"; exit 77; }
work=$(mktemp -d)
failed=0
trap 'kill $(jobs -p) 2>/dev/null; wineserver -k 2>/dev/null; rm -rf "$work"' EXIT

# Never on the VM's console: Wine would draw its own console there. Wine 8.0's ALSA MIDI
# driver may crash as the process ends, after main returned (a program that only calls
# midiOutGetNumDevs does too): that SIGSEGV is taken for the exit 0 it follows, and the
# output and the device's copy still decide.
run() {
  wine "$send" "$@" </dev/null >"$work/send.out" 2>"$work/send.err"
  local rc=$?
  [ "$rc" -ne 139 ] || { echo "(Wine crashed after the program ended)" && rc=0; }
  return "$rc"
}
fail() {
  echo "FAIL [$1]: $2"
  for f in send.out send.err dev.out; do
    [ ! -s "$work/$f" ] || { echo "--- $f" && grep -v '^ALSA lib' "$work/$f" | tail -n 20; }
  done
  failed=$((failed + 1))
}
waits() {  # PATTERN FILE: until FILE has PATTERN, 30 s at most
  for _ in $(seq 1 300); do
    grep -q "$1" "$2" 2>/dev/null && return 0
    sleep 0.1
  done
  return 1
}
started() { waits ready "$1"; }

# Wine reads the sequencer's ports once, when the driver loads: the device must be there first.
head -c 300000 /dev/urandom >"$work/image.bin"
"$device" --name movrin-device --once --expect "$work/image.bin" --save "$work/got.bin" \
  >"$work/dev.out" 2>&1 &
dev_pid=$!
started "$work/dev.out" || fail start "movrin-device did not start"
# One that answers the announce and then stays silent, for Ctrl-C in mid-transfer.
"$device" --name movrin-silent --silent-after 0 >"$work/silent.out" 2>&1 &
started "$work/silent.out" || fail start "the silent movrin-device did not start"
wineserver -p

if ! run --list; then
  fail list "--list failed"
elif ! grep -q '^MIDI API: WinMM' "$work/send.out" ||
  ! grep -q '^  0: Wine midi mapper ' "$work/send.out" ||
  ! grep -q 'movrin-device - in ' "$work/send.out"; then
  fail list "the mapper first and the device's ports among WinMM's"
else
  echo "ok [list]: $(grep -c '\[WinMM\]' "$work/send.out") WinMM ports"
fi

# 300000 bytes make 335 blocks: past blocks 128 and 255, whose index bytes are 0x80 and above.
if ! run --out "movrin-device - in" --in "movrin-device - out" --timeout 60 "$work/image.bin"; then
  fail transfer "movrin-send.exe failed"
elif ! wait "$dev_pid" || ! cmp -s "$work/image.bin" "$work/got.bin"; then
  fail transfer "the device did not receive the image identical"
else
  echo "ok [transfer]: $(tail -n 1 "$work/send.out")"
fi
# Wine hands SIGINT to the console's control handler as Ctrl-C.
timeout -s KILL 60 wine "$send" --out "movrin-silent - in" --in "movrin-silent - out" \
  --timeout 0 "$work/image.bin" </dev/null >"$work/send.out" 2>"$work/send.err" &
send_pid=$!
if ! waits 'going silent' "$work/silent.out"; then
  fail interrupt "the device never went silent"
else
  pkill -INT -P "$send_pid"
  wait "$send_pid"
  rc=$?
  [ "$rc" -ne 139 ] || rc=130  # Wine's crash at the end, as above
  if [ "$rc" -ne 130 ] || ! grep -q '^movrin-send: interrupted after block' "$work/send.err"; then
    fail interrupt "exit $rc after Ctrl-C, expected 130 and the block it stopped after"
  else
    echo "ok [interrupt]: $(grep -v '^ALSA lib' "$work/send.err")"
  fi
fi
# A device that has gone silent: --timeout ends the wait with exit 4 and says so. Wine's crash
# at the end (139) may stand for the exit code; the message then tells it.
wine "$send" --out "movrin-silent - in" --in "movrin-silent - out" --timeout 3 "$work/image.bin" \
  </dev/null >"$work/send.out" 2>"$work/send.err"
rc=$?
said=$(grep -E '^movrin-send: (no ready note|the device stopped asking)' "$work/send.err")
[ "$rc" -eq 139 ] && [ -n "$said" ] && rc=4
if [ "$rc" -ne 4 ] || [ -z "$said" ]; then
  fail timeout "exit $rc with the device silent, expected 4 and the timeout's message"
else
  echo "ok [timeout]: $said"
fi
exit $((failed > 0))
