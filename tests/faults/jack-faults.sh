#!/usr/bin/env bash
# One fault case: movrin-send into movrin-device over JACK while something goes wrong: a flood
# of stray messages, the device's ports vanishing, or the server dying. Whatever happens, the
# sender must end within the watchdog, never crash, and claim success only when the device
# holds the image byte for byte.
#   jack-faults.sh SEND DEVICE FLOOD JACK_SCRIPT CASE
# The flood and port cases use the server JACK_DEFAULT_SERVER names (the test fixture's); the
# server cases start a private server, so the shared one never dies.
set -uo pipefail

send=${1:?movrin-send}
device=${2:?movrin-device}
flood=${3:?movrin-flood}
jack_script=${4:?jack-server.sh}
case_name=${5:?case}

work=$(mktemp -d "${TMPDIR:-/tmp}/movrin-faults.XXXXXX")
name="faults-$case_name-$$"
device_pid=
flood_pid=
send_pid=
private_server=

stop_process() {
  local pid=$1
  [ -n "$pid" ] || return 0
  kill -0 "$pid" 2>/dev/null || return 0
  kill -TERM "$pid" 2>/dev/null
  for _ in $(seq 1 50); do
    kill -0 "$pid" 2>/dev/null || return 0
    sleep 0.1
  done
  kill -KILL "$pid" 2>/dev/null
}

cleanup() {
  stop_process "$send_pid"
  stop_process "$flood_pid"
  stop_process "$device_pid"
  if [ -n "$private_server" ]; then
    pid_file="${TMPDIR:-/tmp}/movrin-jack-$private_server.pid"
    server_pid=$(cat "$pid_file" 2>/dev/null)
    [ -n "$server_pid" ] && kill -CONT "$server_pid" 2>/dev/null
    "$jack_script" stop "$private_server"
    # A killed server keeps its slot in JACK's registry of eight servers until a server of
    # the same name registers, which it can only once the dead one is reaped: then start and
    # stop one, so the slot is free for everyone again.
    for _ in $(seq 1 100); do
      if [ -z "$server_pid" ] || [ ! -e "/proc/$server_pid" ]; then
        break
      fi
      sleep 0.1
    done
    "$jack_script" start "$private_server" 256 >/dev/null 2>&1
    "$jack_script" stop "$private_server"
  fi
  rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

fail() {
  echo "FAIL [$case_name]: $*" >&2
  for f in send.out send.err device.out device.err flood.out flood.err; do
    if [ -s "$work/$f" ]; then
      echo "--- $f" >&2
      tail -n 20 "$work/$f" >&2
    fi
  done
  exit 1
}

# Waits up to $2 tenths of a second for pattern $1 in file $3.
wait_for_line() {
  for _ in $(seq 1 "$2"); do
    grep -Eq "$1" "$3" 2>/dev/null && return 0
    sleep 0.1
  done
  return 1
}

# Defaults: a clean transfer with replies as fast as they come.
size=60000
device_args=(--expect "$work/image.bin" --save "$work/received.bin")
send_args=(--timeout 10)
flood_per_cycle=
kill_signal=          # the server gets this signal once the sender is under way
then_signal=          # and then the sender gets this one
outcome=complete      # complete | either | failed
send_error=           # for "failed": the one-line error must match this

case "$case_name" in
  flood-light | flood-heavy)
    device_args+=(--once --noise --seed "$$")
    flood_per_cycle=$([ "$case_name" = flood-light ] && echo 16 || echo "${MOVRIN_FLOOD_PER_CYCLE:-512}")
    # A light flood must change nothing; a heavy one may overrun the server's port buffers,
    # which may end the transfer, but only cleanly.
    [ "$case_name" = flood-heavy ] && outcome=either
    ;;
  vanish-first)
    # The ports go after the first block and nothing times out: only noticing the gone port
    # ends the sender.
    size=10000
    device_args=(--close-after 0)
    send_args=(--timeout 0)
    outcome=failed
    send_error="(went away|does not exist).*(transfer stopped|block)"
    ;;
  vanish-noise)
    device_args+=(--close-after 5 --noise --seed "$$")
    send_args=(--timeout 0)
    flood_per_cycle=16
    outcome=failed
    send_error="(went away|does not exist).*(transfer stopped|block)"
    ;;
  server-kill | server-term | server-stop | server-stop-int | server-stop-term)
    kill_signal=$(echo "${case_name#server-}" | cut -d- -f1 | tr '[:lower:]' '[:upper:]')
    case "$case_name" in server-stop-*) then_signal=$(echo "${case_name#server-stop-}" | tr '[:lower:]' '[:upper:]') ;; esac
    size=300000
    device_args+=(--pace 2)
    send_args=(--timeout "$([ -n "$then_signal" ] && echo 0 || echo 5)")
    outcome=failed
    send_error="."
    private_server="movrin-faults-$case_name-$$-$RANDOM"
    "$jack_script" start "$private_server" 256 || fail "private JACK server did not start"
    export JACK_DEFAULT_SERVER=$private_server JACK_NO_START_SERVER=1
    ;;
  *)
    echo "unknown case $case_name" >&2
    exit 2
    ;;
esac

head -c "$size" /dev/urandom >"$work/image.bin"

"$device" --name "$name" "${device_args[@]}" >"$work/device.out" 2>"$work/device.err" &
device_pid=$!
wait_for_line '^ready' 100 "$work/device.out" || fail "device not ready within 10 s"

if [ -n "$flood_per_cycle" ]; then
  # Both ends are flooded: the sender's input port and the device's.
  "$flood" --name "flood-$$" --to "^(movrin-send[^:]*:in-[0-9]+|${name}[^:]*:in)\$" \
    --per-cycle "$flood_per_cycle" --seed "$$" >"$work/flood.out" 2>"$work/flood.err" &
  flood_pid=$!
  wait_for_line '^joined' 100 "$work/flood.out" || fail "flood did not reach the device"
fi

timeout -s KILL 60 "$send" --out "$name" --in "$name" "${send_args[@]}" "$work/image.bin" \
  >"$work/send.out" 2>"$work/send.err" &
send_pid=$!

if [ -n "$kill_signal" ]; then
  wait_for_line ' (1|2)0%' 300 "$work/send.out" || fail "the transfer never got under way"
  kill "-$kill_signal" "$(cat "${TMPDIR:-/tmp}/movrin-jack-$private_server.pid")" ||
    fail "cannot signal the server"
fi

# A stalled server must not stall the sender: it ends on its own timeout, or on a signal that
# arrives while the server is still stopped, within the watchdog (60 s).
if [ -n "$then_signal" ]; then
  kill "-$then_signal" "$send_pid"
fi
wait "$send_pid"
send_rc=$?
send_pid=
[ "$send_rc" -ne 137 ] || fail "sender hung and was killed by the watchdog"
[ "$send_rc" -lt 128 ] || [ -n "$then_signal" ] || fail "sender died of signal $((send_rc - 128))"

# The device learns of an image only from its own verdict line; give it time to unpack.
verdict=
if [ "$send_rc" -eq 0 ]; then
  wait_for_line '^verdict' 100 "$work/device.out"
  verdict=$(grep '^verdict' "$work/device.out")
fi

if [ "$send_rc" -eq 0 ]; then
  [ "$outcome" != failed ] || fail "sender claims success where it had to fail"
  grep -q '^transfer complete' "$work/send.out" || fail "exit 0 without 'transfer complete'"
  [ "$(grep -c '^verdict' "$work/device.out")" -eq 1 ] || fail "false success: no verdict"
  grep -q "^verdict: received $size bytes.*identical to" "$work/device.out" ||
    fail "false success: the device holds something else"
  cmp -s "$work/image.bin" "$work/received.bin" || fail "false success: saved image differs"
else
  [ "$outcome" != complete ] || fail "sender failed (exit $send_rc) where it had to complete"
  grep -q 'transfer complete' "$work/send.out" "$work/send.err" &&
    fail "failure exit $send_rc, yet 'transfer complete' was printed"
  [ "$(wc -l <"$work/send.err")" -eq 1 ] || fail "sender error is not one line"
  grep -q '^movrin-send: ' "$work/send.err" || fail "sender error does not name the program"
  [ -z "$send_error" ] || grep -Eq "$send_error" "$work/send.err" ||
    fail "sender error does not match '$send_error'"
  case "$then_signal:$send_rc" in
    :3 | :4 | INT:130 | TERM:143) ;;
    *) fail "sender exit $send_rc, expected 3 or 4, or 130/143 after SIG$then_signal" ;;
  esac
fi

# The device survives the flood, and ends on Ctrl-C even when its server is gone.
flooded=
if [ -n "$flood_pid" ]; then
  kill -0 "$flood_pid" 2>/dev/null || fail "the flood stopped early"
  stop_process "$flood_pid"
  flood_pid=
  flooded=" [$(grep -c '^joined' "$work/flood.out") ports, $(grep '^flooded' "$work/flood.out")]"
fi
if kill -0 "$device_pid" 2>/dev/null; then
  kill -INT "$device_pid"
  for _ in $(seq 1 50); do
    kill -0 "$device_pid" 2>/dev/null || break
    sleep 0.1
  done
  kill -0 "$device_pid" 2>/dev/null && fail "device does not end on Ctrl-C"
fi
wait "$device_pid"
device_rc=$?
device_pid=
[ "$device_rc" -lt 128 ] || fail "device died of signal $((device_rc - 128))"
echo "ok [$case_name]: sender exit $send_rc: $(cat "$work/send.err")${verdict:+ $verdict}$flooded"
