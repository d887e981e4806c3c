#!/usr/bin/env bash
# Times movrin-send against a minimal reference sender over a private JACK server (dummy
# driver, 48 kHz, period 256) into movrin-device, and measures movrin-send's CPU use during a
# transfer paced like a DIN MIDI cable. A benchmark, not a test: it prints figures.
#   bench/jack/run-bench.sh [BUILD_DIR]      (default build/bench, configured as Release)
set -euo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
build=${1:-$root/build/bench}
if [ ! -f "$build/CMakeCache.txt" ]; then
  cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release -DMOVRIN_BUILD_GUI=OFF \
    -DMOVRIN_BUILD_TESTS=OFF >/dev/null
fi
cmake --build "$build" -j "$(nproc 2>/dev/null || echo 2)" \
  --target movrin-send movrin-device movrin-reference-sender >/dev/null
send="$build/tools/send/movrin-send"
device="$build/tools/device/movrin-device"
reference="$build/bench/jack/movrin-reference-sender"

server="movrin-bench-$$"
work=$(mktemp -d "${TMPDIR:-/tmp}/movrin-bench.XXXXXX")
device_pid=
cleanup() {
  if [ -n "$device_pid" ] && kill -0 "$device_pid" 2>/dev/null; then
    kill -TERM "$device_pid" 2>/dev/null || true
    wait "$device_pid" 2>/dev/null || true
  fi
  "$root/tests/jack/jack-server.sh" stop "$server" || true
  rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

export JACK_DEFAULT_SERVER="$server" JACK_NO_START_SERVER=1 JACK_NO_AUDIO_RESERVATION=1
"$root/tests/jack/jack-server.sh" start "$server" 256

start_device() {  # NAME ARGS...
  local name=$1
  shift
  : >"$work/device.out"
  "$device" --name "$name" "$@" >"$work/device.out" 2>"$work/device.err" &
  device_pid=$!
  for _ in $(seq 1 100); do
    grep -q '^ready' "$work/device.out" && return 0
    sleep 0.1
  done
  echo "device did not start" >&2
  cat "$work/device.err" >&2
  exit 1
}
stop_device() {
  kill -TERM "$device_pid" 2>/dev/null || true
  wait "$device_pid" 2>/dev/null || true
  device_pid=
}
now_ns() { date +%s%N; }

# 1. One MiB, device answering at once: movrin-send, then the reference sender, same server.
head -c $((1024 * 1024)) /dev/urandom >"$work/1mib.bin"
blocks=$("$send" --info "$work/1mib.bin" | awk '/^blocks:/ {print $2}')
start_device bench-dev --pace none --expect "$work/1mib.bin"

t0=$(now_ns)
"$send" --out bench-dev --in bench-dev "$work/1mib.bin" >"$work/send.out"
t1=$(now_ns)
"$reference" bench-dev bench-dev "$work/1mib.bin" >"$work/reference.out"
t2=$(now_ns)
sleep 0.5
identical=$(grep -c 'identical to' "$work/device.out" || true)
stop_device
[ "$identical" -eq 2 ] || { echo "not both transfers arrived identical" >&2; cat "$work/device.out" >&2; exit 1; }

# 2. 64 KiB paced like a DIN cable: how much CPU movrin-send uses while it mostly waits.
head -c 65536 /dev/urandom >"$work/64kib.bin"
start_device bench-din --pace din --once --expect "$work/64kib.bin"
/usr/bin/time -f '%U %S %e' -o "$work/time.txt" \
  "$send" --out bench-din --in bench-din "$work/64kib.bin" >/dev/null
read -r user sys wall <"$work/time.txt"
for _ in $(seq 1 50); do kill -0 "$device_pid" 2>/dev/null || break; sleep 0.1; done
grep -q 'identical to' "$work/device.out" || { echo "DIN transfer not identical" >&2; exit 1; }
stop_device

awk -v blocks="$blocks" -v s="$((t1 - t0))" -v r="$((t2 - t1))" \
  -v user="$user" -v sys="$sys" -v wall="$wall" 'BEGIN {
  sms = s / 1e6; rms = r / 1e6
  printf "JACK dummy driver, 48 kHz, period 256 (5.33 ms); 1 MiB image = %d blocks\n", blocks
  printf "  movrin-send (waits for each message to play out): %8.1f ms total, %6.2f ms/block\n", sms, sms / blocks
  printf "  reference sender (one port kept open): %7.1f ms total, %6.2f ms/block\n", rms, rms / blocks
  printf "  ratio movrin-send / reference:        %6.2f\n", sms / rms
  printf "64 KiB at DIN pace: movrin-send CPU %.2f s user + %.2f s sys over %.2f s wall = %.1f%%\n",
         user, sys, wall, 100 * (user + sys) / wall
}'
