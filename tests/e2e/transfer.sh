#!/usr/bin/env bash
# One end-to-end case: movrin-send into movrin-device over the MIDI system the environment
# points at (the test fixture's JACK server). Every wait is bounded; a hang is a failure.
#   transfer.sh SEND DEVICE CASE
set -uo pipefail
send=${1:?movrin-send} device=${2:?movrin-device} case_name=${3:?case}

# JACK without realtime scheduling drops a cycle's MIDI when the machine is overloaded (an
# xrun), and the protocol cannot resend, so the sender times out, as it should. Such an attempt
# is repeated once, and only when JACK itself reported xruns during it (exit 75).
if [ -z "${MOVRIN_E2E_ATTEMPT:-}" ]; then
  MOVRIN_E2E_ATTEMPT=1 "$0" "$@"
  rc=$?
  [ "$rc" -ne 75 ] && exit "$rc"
  echo "[$case_name] JACK reported xruns during a timed-out transfer; trying once more" >&2
  MOVRIN_E2E_ATTEMPT=2 exec "$0" "$@"
fi
jack_log="${TMPDIR:-/tmp}/movrin-jack-${JACK_DEFAULT_SERVER:-}.log"
xruns() { { grep -o 'XRun' "$jack_log" 2>/dev/null || true; } | wc -l; }
xruns_before=$(xruns)

work=$(mktemp -d "${TMPDIR:-/tmp}/movrin-e2e.XXXXXX")
name="e2e-$case_name-$$"
device_pid=
cleanup() {
  if [ -n "$device_pid" ] && kill -TERM "$device_pid" 2>/dev/null; then
    timeout 5 tail --pid="$device_pid" -f /dev/null || kill -KILL "$device_pid"
  fi
  rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 130' INT TERM
fail() {
  echo "FAIL [$case_name]: $* (JACK xruns logged: $(($(xruns) - xruns_before)))" >&2
  for f in send.out send.err device.out device.err; do
    [ ! -s "$work/$f" ] || { echo "--- $f" && tail -n 20 "$work/$f"; } >&2
  done
  exit 1
}
# shellcheck disable=SC2016
wait_for() { timeout 10 bash -c 'until grep -q "$0" "$1" 2>/dev/null; do sleep 0.1; done' "$@"; }

# Defaults: a clean transfer that must arrive identical.
size=4096
device_args=(--once --expect "$work/image.bin" --save "$work/received.bin")
send_args=(--timeout 10)
want_send=0
send_error=  # a pattern for the sender's one-line error; the device then outlives the sender
signal=      # sent to the sender once the device has gone silent
case "$case_name" in
  size-*) size=${case_name#size-} ;;
  noise) size=70000 device_args+=(--noise --seed "$$" --duplicate-ready --early-request) ;;
  din) size=3000 device_args+=(--pace din) ;;
  silent)
    size=10000 device_args=(--silent-after 0) send_args=(--timeout 2) want_send=4
    send_error='stopped asking for blocks.*within 2 s after block 1 of'
    ;;
  closed)
    # The ports vanish while block 2 is confirmed, or later while waiting for a request.
    size=10000 device_args=(--close-after 1) send_args=(--timeout 20) want_send=3
    send_error='(block 2 of 12.*does not exist|went away after block 2 of 12)'
    ;;
  interrupt | terminate)
    size=10000 device_args=(--silent-after 0) send_args=(--timeout 0)
    signal=INT want_send=130
    [ "$case_name" = interrupt ] || signal=TERM want_send=143
    send_error='interrupted after block 1 of'
    ;;
  ports) ;;  # port listing and lookup only, no transfer
  *) fail "unknown case" ;;
esac

head -c "$size" /dev/urandom >"$work/image.bin"
"$device" --name "$name" "${device_args[@]}" >"$work/device.out" 2>"$work/device.err" &
device_pid=$!
wait_for '^ready' "$work/device.out" || fail "device not ready within 10 s"

if [ "$case_name" = ports ]; then
  timeout -s KILL 30 "$send" --list >"$work/send.out" 2>&1 || fail "--list failed"
  # The device's input is among the outputs to send to, its output among the inputs.
  sed -n '/^MIDI API: JACK$/,/^Input/p' "$work/send.out" | grep -Eq "^  [0-9]+: $name.*:in +\[JACK\]\$" ||
    fail "no JACK, or the device's input is not listed as an output"
  sed -n '/^Input/,$p' "$work/send.out" | grep -Eq "^  [0-9]+: $name.*:out +\[JACK\]\$" ||
    fail "device output not listed as an input"
  for wanted in "no-such-device-$$" 4096; do
    timeout -s KILL 30 "$send" --out "$wanted" --in "$name" "$work/image.bin" 2>"$work/send.err"
    rc=$?
    # shellcheck disable=SC2015
    [ "$rc" -eq 1 ] && [ "$(wc -l <"$work/send.err")" -eq 1 ] && grep -q "$wanted" "$work/send.err" ||
      fail "unknown port \"$wanted\": exit $rc, expected 1 and one line that names it"
  done
  grep -q 'index 4096' "$work/send.err" || fail "an index out of range is not called one"
  exit 0
fi

timeout -s KILL 90 "$send" --out "$name" --in "$name" "${send_args[@]}" "$work/image.bin" \
  >"$work/send.out" 2>"$work/send.err" &
send_pid=$!
if [ -n "$signal" ]; then
  wait_for 'going silent' "$work/device.out" || fail "device never went silent"
  sleep 0.3  # the sender now waits for a request that will not come
  pkill "-$signal" -P "$send_pid" || fail "no sender to signal"
fi
wait "$send_pid"
send_rc=$?
[ "$send_rc" -ne 137 ] || fail "sender hung and was killed by the watchdog"
if [ "$send_rc" -eq 4 ] && [ "$want_send" -eq 0 ] && [ "$MOVRIN_E2E_ATTEMPT" = 1 ] &&
  [ "$(xruns)" -gt "$xruns_before" ]; then
  (fail "sender timed out") 2>&1 | sed 's/^/  /' >&2
  exit 75
fi
[ "$send_rc" -eq "$want_send" ] || fail "sender exit $send_rc, expected $want_send"
if [ -n "$send_error" ]; then
  [ "$(wc -l <"$work/send.err")" -eq 1 ] || fail "sender error is not one line"
  grep -Eq "^movrin-send: .*$send_error" "$work/send.err" || fail "sender error is not '$send_error'"
  kill -0 "$device_pid" || fail "device exited early"
  exit 0
fi
grep -q '^transfer complete' "$work/send.out" || fail "sender did not report completion"
timeout 10 tail --pid="$device_pid" -f /dev/null || fail "device still running 10 s after the sender"
wait "$device_pid"
device_rc=$?
device_pid=
[ "$device_rc" -eq 0 ] || fail "device exit $device_rc, expected 0"
verdicts=$(grep '^verdict' "$work/device.out")
[ "$verdicts" = "$(grep -m1 "^verdict: received $size bytes.*identical to" <<<"$verdicts")" ] ||
  fail "not exactly one verdict line, or not 'identical'"
cmp -s "$work/image.bin" "$work/received.bin" || fail "saved image differs"
echo "ok [$case_name]: $verdicts"
