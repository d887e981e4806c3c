#!/usr/bin/env bash
# Starts or stops a private JACK server (dummy driver, no realtime) for the tests.
#   jack-server.sh start NAME [PERIOD]   returns once clients can connect
#   jack-server.sh stop NAME
set -euo pipefail

action=${1:?start or stop}
name=${2:?server name}
period=${3:-256}
state_dir=${TMPDIR:-/tmp}
pid_file="$state_dir/movrin-jack-$name.pid"
log_file="$state_dir/movrin-jack-$name.log"
export JACK_NO_AUDIO_RESERVATION=1 JACK_NO_START_SERVER=1

# JACK keeps a registry of at most eight servers in shared memory. A server that dies without
# stopping (killed, or a crashed test) keeps its entry until one of the same name starts again.
forget_stale_servers() {
  # With no server running at all, every entry and segment left in /dev/shm is stale.
  if ! pgrep -x jackd >/dev/null 2>&1 && ! pgrep -x jackdbus >/dev/null 2>&1; then
    rm -f /dev/shm/jack-shm-registry /dev/shm/jack-[0-9]* /dev/shm/jack_sem.* \
      /dev/shm/jack_*_[0-9]_[0-9] 2>/dev/null || true
  fi
}

stop_server() {  # PID: returns 0 when the server stopped by itself on SIGTERM
  local pid=$1
  kill -0 "$pid" 2>/dev/null || return 1
  kill "$pid" 2>/dev/null || true
  for _ in $(seq 1 50); do
    kill -0 "$pid" 2>/dev/null || return 0
    sleep 0.1
  done
  kill -9 "$pid" 2>/dev/null || true
  for _ in $(seq 1 50); do
    kill -0 "$pid" 2>/dev/null || break
    sleep 0.1
  done
  return 1
}

case "$action" in
  start)
    if [ -f "$pid_file" ] && kill -0 "$(cat "$pid_file")" 2>/dev/null; then
      exit 0
    fi
    forget_stale_servers
    setsid jackd --no-realtime --sync -t 2000 -n "$name" -d dummy -r 48000 -p "$period" >"$log_file" 2>&1 &
    echo $! >"$pid_file"
    for _ in $(seq 1 100); do
      if JACK_DEFAULT_SERVER="$name" timeout 2 jack_wait -c 2>/dev/null | grep -qx running; then
        exit 0
      fi
      if ! kill -0 "$(cat "$pid_file")" 2>/dev/null; then
        break
      fi
      sleep 0.1
    done
    echo "JACK server '$name' did not start:" >&2
    cat "$log_file" >&2 || true
    exit 1
    ;;
  stop)
    if [ -f "$pid_file" ]; then
      pid=$(cat "$pid_file")
      rm -f "$pid_file"
      if ! stop_server "$pid" && [ "${MOVRIN_JACK_RECLAIM:-1}" = 1 ]; then
        # It died or had to be killed: free its registry entry by starting and stopping a
        # server of the same name once.
        MOVRIN_JACK_RECLAIM=0 "$0" start "$name" "$period" >/dev/null 2>&1 &&
          MOVRIN_JACK_RECLAIM=0 "$0" stop "$name" >/dev/null 2>&1 || true
      fi
    fi
    rm -f "$log_file"
    ;;
  *)
    echo "usage: $0 start|stop NAME [PERIOD]" >&2
    exit 2
    ;;
esac
