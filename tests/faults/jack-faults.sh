#!/usr/bin/env bash
# One fault case: movrin-send into movrin-device over JACK while something goes wrong: stray
# messages, the device's ports vanishing, or the server dying or stalling. Whatever happens, the
# sender must end within the watchdog with the right exit code, never crash, and claim success
# only when the device holds the image byte for byte.
#   jack-faults.sh SEND DEVICE JACK_SCRIPT CASE [WINDOW]
# WINDOW, the window's program, joins the programs that "stalled-int" interrupts.
# "pipes" gives both programs a reader of their output that goes away early.
# The noise, pipe and port cases use the server JACK_DEFAULT_SERVER names (the test fixture's); the
# server cases start a private server, so the shared one never dies.
set -uo pipefail
send=${1:?movrin-send}
device=${2:?movrin-device}
jack_script=${3:?jack-server.sh}
case_name=${4:?case}
window=${5:-}
work=$(mktemp -d "${TMPDIR:-/tmp}/movrin-faults.XXXXXX")
name="faults-$case_name-$$"
device_pid= send_pid= server= server_pid=

# Ends a process with SIGTERM, or SIGKILL when it does not end; never waits without limit.
stop_process() {
  [ -n "$1" ] && kill -0 "$1" 2>/dev/null || return 0
  kill -TERM "$1" 2>/dev/null
  timeout 5 tail --pid="$1" -f /dev/null || kill -KILL "$1" 2>/dev/null
}
cleanup() {
  stop_process "$send_pid"
  stop_process "$device_pid"
  [ -n "$server_pid" ] && kill -CONT "$server_pid" 2>/dev/null
  [ -n "$server" ] && "$jack_script" stop "$server"
  rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

fail() {
  echo "FAIL [$case_name]: $*" >&2
  tail -n 20 "$work"/{send,device}.{out,err} >&2
  exit 1
}
wait_for_line() {  # PATTERN TENTHS FILE
  for _ in $(seq 1 "$2"); do
    grep -Eq "$1" "$3" 2>/dev/null && return 0
    sleep 0.1
  done
  return 1
}

size=60000 outcome=complete server_signal= send_signal= send_args=(--timeout 10)
kill_when=' (1|2)0%'  # the sender's line after which the server is signalled
device_args=(--expect "$work/image.bin" --save "$work/received.bin")
case "$case_name" in
  noise) device_args+=(--once --noise --seed "$$") ;;
  pipes) device_args+=(--once) ;;
  vanish-first | vanish-noise)
    # The ports go and nothing times out: only noticing the gone port ends the sender.
    size=10000 outcome=failed send_args=(--timeout 0)
    [ "$case_name" = vanish-first ] && device_args=(--close-after 0) ||
      device_args+=(--close-after 5 --noise --seed "$$")
    ;;
  server-kill | server-term | server-stop | server-stop-int | server-stop-term | server-kill-close)
    size=300000 outcome=failed device_args+=(--pace 2) send_args=(--timeout 5)
    server_signal=$(echo "$case_name" | cut -d- -f2 | tr '[:lower:]' '[:upper:]')
    send_signal=$(echo "$case_name" | cut -s -d- -f3 | tr '[:lower:]' '[:upper:]')
    # The server dies as the sender closes its ports after a complete transfer: still a success.
    [ "$case_name" = server-kill-close ] &&
      size=10000 outcome=complete send_signal= kill_when='^transfer complete' device_args=(
        --expect "$work/image.bin" --save "$work/received.bin")
    # With the server stopped, only the signal may end the sender.
    [ -n "$send_signal" ] && send_args=(--timeout 0)
    # The build tree's one name for it: a server killed with the run leaves its registry slot
    # to the next start of that name, which takes it back.
    server=${MOVRIN_PRIVATE_SERVER:?run through CTest, which names the private server}
    "$jack_script" start "$server" 256 || fail "private JACK server did not start"
    server_pid=$(cat "${TMPDIR:-/tmp}/movrin-jack-$server.pid")
    export JACK_DEFAULT_SERVER=$server JACK_NO_START_SERVER=1
    ;;
  stalled-list | stalled-int)
    server=${MOVRIN_PRIVATE_SERVER:?run through CTest, which names the private server}
    "$jack_script" start "$server" 256 || fail "private JACK server did not start"
    server_pid=$(cat "${TMPDIR:-/tmp}/movrin-jack-$server.pid")
    export JACK_DEFAULT_SERVER=$server JACK_NO_START_SERVER=1
    kill -STOP "$server_pid"
    ;;
  *) echo "unknown case $case_name" >&2 && exit 2 ;;
esac

# A stopped server: the list names it as not answering (exit 1); Ctrl-C, once a program has
# taken over SIGINT, ends each program at once with 130, whatever call is waiting.
catches_sigint() {  # PID
  for _ in $(seq 1 100); do
    local mask
    mask=$(sed -n 's/^SigCgt:\s*//p' "/proc/$1/status" 2>/dev/null) || return 1
    [ -n "$mask" ] && (((0x$mask >> 1) & 1)) && return 0
    sleep 0.1
  done
  return 1
}
if [ "$case_name" = stalled-list ]; then
  timeout -s KILL 60 "$send" --list >"$work/send.out" 2>"$work/send.err"
  send_rc=$?
  [ "$send_rc" -eq 1 ] && grep -q "^movrin-send: the JACK server \"$server\" does not answer" \
    "$work/send.err" || fail "--list exit $send_rc with the server stopped"
  echo "ok [$case_name]: $(tail -n 1 "$work/send.err")"
  exit 0
elif [ "$case_name" = stalled-int ]; then
  programs=("$send --list" "$device --name $name")
  [ -n "$window" ] && programs+=("$window")
  for program in "${programs[@]}"; do
    QT_QPA_PLATFORM=offscreen timeout -s KILL 60 $program >"$work/send.out" 2>"$work/send.err" &
    send_pid=$!
    # timeout(1) may not have started the program yet.
    program_pid=
    for _ in $(seq 1 100); do
      program_pid=$(pgrep -P "$send_pid") && break
      sleep 0.1
    done
    catches_sigint "$program_pid" || fail "$program never took over SIGINT"
    kill -INT "$program_pid"
    wait "$send_pid"
    send_rc=$?
    send_pid=
    [ "$send_rc" -eq 130 ] &&
      [ "$(grep -v '^QStandardPaths:' "$work/send.err")" = "$(basename "${program%% *}"): interrupted" ] ||
      fail "$program: exit $send_rc after Ctrl-C with the server stopped"
  done
  echo "ok [$case_name]: ${#programs[@]} programs end on Ctrl-C with the server stopped"
  exit 0
fi

head -c "$size" /dev/urandom >"$work/image.bin"
# "$@" with stdout to OUT; in the pipes case to a reader that takes LINES lines and leaves, so
# every later line meets a closed pipe.
start() {  # OUT LINES COMMAND...
  local out=$1 lines=$2
  shift 2
  if [ "$case_name" = pipes ]; then
    "$@" > >(head -n "$lines" >"$out") 2>"${out%.out}.err" &
  else
    "$@" >"$out" 2>"${out%.out}.err" &
  fi
}
start "$work/device.out" 1 "$device" --name "$name" "${device_args[@]}"
device_pid=$!
wait_for_line '^ready' 100 "$work/device.out" || fail "device not ready within 10 s"
start "$work/send.out" 2 timeout -s KILL 60 "$send" --out "$name" --in "$name" "${send_args[@]}" \
  "$work/image.bin"
send_pid=$!
if [ -n "$server_signal" ]; then
  wait_for_line "$kill_when" 300 "$work/send.out" || fail "no \"$kill_when\" from the sender"
  kill "-$server_signal" "$server_pid" || fail "cannot signal the server"
  [ -n "$send_signal" ] && kill "-$send_signal" "$send_pid"
fi
wait "$send_pid"
send_rc=$?
send_pid=
case "$send_signal:$send_rc" in
  :137) fail "sender hung and was killed by the watchdog" ;;
  INT:130 | TERM:143) ;;
  *) [ "$send_rc" -lt 128 ] || fail "sender ended with $send_rc (signal $((send_rc - 128)))" ;;
esac

if [ "$send_rc" -eq 0 ] && [ "$case_name" = pipes ]; then
  wait "$device_pid" || fail "device failed (exit $?) with its output gone"
  device_pid=
  cmp -s "$work/image.bin" "$work/received.bin" || fail "saved image differs"
  [ ! -s "$work/send.err" ] && [ ! -s "$work/device.err" ] || fail "errors about the output"
  echo "ok [$case_name]: both ended normally with their output gone"
  exit 0
elif [ "$send_rc" -eq 0 ]; then
  [ "$outcome" != failed ] || fail "sender claims success where it had to fail"
  grep -q '^transfer complete' "$work/send.out" || fail "exit 0 without 'transfer complete'"
  wait_for_line '^verdict' 100 "$work/device.out"
  grep -q "^verdict: received $size bytes.*identical to" "$work/device.out" ||
    fail "false success: the device holds something else"
  cmp -s "$work/image.bin" "$work/received.bin" || fail "false success: saved image differs"
else
  [ "$outcome" != complete ] || fail "sender failed (exit $send_rc) where it had to complete"
  grep -q 'transfer complete' "$work/send.out" "$work/send.err" &&
    fail "failure exit $send_rc, yet 'transfer complete' was printed"
  [ "$(wc -l <"$work/send.err")" -eq 1 ] && grep -q '^movrin-send: ' "$work/send.err" &&
    { [[ $case_name != vanish* ]] || grep -Eq "(went away|does not exist)" "$work/send.err"; } ||
    fail "sender error is not one line naming the program (and the vanished port)"
  case "$send_signal:$send_rc" in
    :3 | :4 | INT:130 | TERM:143) ;;
    *) fail "sender exit $send_rc, expected 3 (MIDI failure) or 4 (timeout), or 128 + signal" ;;
  esac
fi

# A device whose server is gone says so and ends on its own; one whose server is stopped ends
# on Ctrl-C.
if [ "$server_signal" = KILL ] || [ "$server_signal" = TERM ]; then
  timeout 10 tail --pid="$device_pid" -f /dev/null || fail "device lives on without its server"
  wait "$device_pid"
  device_rc=$?
  device_pid=
  [ "$device_rc" -eq 3 ] && grep -q '^movrin-device: the JACK server went away$' "$work/device.err" ||
    fail "device ended with $device_rc, not 3 after saying the server went away"
  echo "ok [$case_name]: sender exit $send_rc: $(cat "$work/send.err")"
  exit 0
fi
kill -INT "$device_pid" 2>/dev/null
timeout 5 tail --pid="$device_pid" -f /dev/null || fail "device does not end on Ctrl-C"
wait "$device_pid"
device_rc=$?
device_pid=
[ "$device_rc" -lt 128 ] || fail "device died of signal $((device_rc - 128))"
echo "ok [$case_name]: sender exit $send_rc: $(cat "$work/send.err")"
