#!/usr/bin/env bash
# Starts or stops a private JACK server (dummy driver, no realtime) for the tests.
#   jack-server.sh start NAME [PERIOD [RATE]]  returns once clients can connect
#   jack-server.sh stop NAME
#   jack-server.sh stale PREFIX          lists registry slots of dead servers named PREFIX...;
#                                        exit 1 when there are any
#   jack-server.sh reclaim PREFIX        frees those slots (another server's are left alone)
set -euo pipefail
action=${1:?start or stop}
name=${2:?server name}
period=${3:-256}
rate=${4:-48000}
pid_file="${TMPDIR:-/tmp}/movrin-jack-$name.pid"
log_file="${TMPDIR:-/tmp}/movrin-jack-$name.log"
export JACK_NO_AUDIO_RESERVATION=1 JACK_NO_START_SERVER=1

# What a killed server and its killed clients leave in shared memory, of this name only: another
# server's files are not ours to judge. Only once the server is down.
forget_files() {
  local uid
  uid=$(id -u)
  rm -f "/dev/shm/jack_sem.${uid}_${name}_"* "/dev/shm/jack_${name}_${uid}_"* 2>/dev/null || true
}

# The registry's server slots as "PID NAME" lines (JACK stores "jack-UID:NAME:"): a 24-byte
# header, then eight slots of a pid and a 260-byte name.
registry_slots() {
  local registry=/dev/shm/jack-shm-registry slot offset pid entry
  [ -r "$registry" ] || return 0
  for slot in 0 1 2 3 4 5 6 7; do
    offset=$((24 + slot * 264))
    pid=$(od -An -t d4 -j "$offset" -N 4 "$registry" | tr -d ' ')
    [ "${pid:-0}" -gt 0 ] || continue
    entry=$(dd if="$registry" bs=1 skip=$((offset + 4)) count=257 2>/dev/null | tr -d '\0')
    entry=${entry#jack-*:}
    echo "$pid ${entry%:}"
  done
}
dead_slots() {  # PREFIX: names of the dead servers whose slots are still taken
  local pid entry
  registry_slots | while read -r pid entry; do
    [[ "$entry" == "$1"* ]] && ! kill -0 "$pid" 2>/dev/null && echo "$entry"
  done
  return 0
}

case "$action" in
  stale)
    left=$(dead_slots "$name")
    [ -z "$left" ] && exit 0
    echo "JACK registry slots of dead servers: ${left//$'\n'/ }" >&2
    exit 1
    ;;
  reclaim)
    # A start of the same name takes a dead server's slot back.
    for entry in $(dead_slots "$name"); do
      MOVRIN_JACK_RECLAIM=0 "$0" start "$entry" >/dev/null 2>&1 &&
        MOVRIN_JACK_RECLAIM=0 "$0" stop "$entry" >/dev/null 2>&1 || true
    done
    left=$(dead_slots "$name")
    [ -z "$left" ] || { echo "JACK registry slots not taken back: ${left//$'\n'/ }" >&2 && exit 1; }
    ;;
  start)
    # One start at a time: a start that found no server would otherwise clear the registry
    # under a server another start has just brought up, leaving that one unreachable.
    exec 9>"${TMPDIR:-/tmp}/movrin-jack-start.lock"
    flock 9
    [ -f "$pid_file" ] && kill -0 "$(cat "$pid_file")" 2>/dev/null && exit 0
    # JACK keeps a registry of at most eight servers in shared memory. With no server running
    # at all, every entry and segment left behind (a killed server, a crashed test) is stale.
    if ! pgrep -x jackd >/dev/null 2>&1 && ! pgrep -x jackdbus >/dev/null 2>&1; then
      rm -f /dev/shm/jack-shm-registry /dev/shm/jack-[0-9]* /dev/shm/jack_sem.* \
        /dev/shm/jack_*_[0-9]_[0-9] 2>/dev/null || true
    fi
    setsid jackd --no-realtime --sync -t 2000 -n "$name" -d dummy -r "$rate" -p "$period" \
      >"$log_file" 2>&1 9>&- &
    echo $! >"$pid_file"
    for _ in $(seq 1 100); do
      JACK_DEFAULT_SERVER="$name" timeout 2 jack_wait -c 2>/dev/null | grep -qx running && exit 0
      kill -0 "$(cat "$pid_file")" 2>/dev/null || break
      sleep 0.1
    done
    echo "JACK server '$name' did not start:" >&2
    cat "$log_file" >&2 || true
    exit 1
    ;;
  stop)
    [ -f "$pid_file" ] || exit 0
    pid=$(cat "$pid_file")
    rm -f "$pid_file" "$log_file"
    kill -CONT "$pid" 2>/dev/null || true
    if kill -0 "$pid" 2>/dev/null && kill "$pid" 2>/dev/null && timeout 5 tail --pid="$pid" -f /dev/null; then
      forget_files
      exit 0
    fi
    kill -9 "$pid" 2>/dev/null && timeout 5 tail --pid="$pid" -f /dev/null || true
    # It died or had to be killed: its registry entry stays until a server of the same name
    # starts, so start and stop one once.
    if [ "${MOVRIN_JACK_RECLAIM:-1}" = 1 ]; then
      MOVRIN_JACK_RECLAIM=0 "$0" start "$name" "$period" >/dev/null 2>&1 &&
        MOVRIN_JACK_RECLAIM=0 "$0" stop "$name" >/dev/null 2>&1 || true
    fi
    forget_files
    ;;
  *) echo "usage: $0 start|stop NAME [PERIOD] | stale|reclaim PREFIX" >&2 && exit 2 ;;
esac
