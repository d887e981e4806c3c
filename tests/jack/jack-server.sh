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

case "$action" in
  start)
    if [ -f "$pid_file" ] && kill -0 "$(cat "$pid_file")" 2>/dev/null; then
      exit 0
    fi
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
      kill "$pid" 2>/dev/null || true
      for _ in $(seq 1 50); do
        kill -0 "$pid" 2>/dev/null || break
        sleep 0.1
      done
      kill -9 "$pid" 2>/dev/null || true
      rm -f "$pid_file"
    fi
    rm -f "$log_file"
    ;;
  *)
    echo "usage: $0 start|stop NAME [PERIOD]" >&2
    exit 2
    ;;
esac
