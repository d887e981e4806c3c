#!/usr/bin/env bash
# Runs COMMAND with PipeWire's libjack (pw-jack) against a headless PipeWire of its own: a
# private XDG_RUNTIME_DIR, no session manager, stopped afterwards. Exit status: COMMAND's, or
# 77 (skipped) where /dev/snd/seq is open to us, since the tools then take the ALSA sequencer.
#   pipewire.sh COMMAND [ARG...]
set -uo pipefail
for tool in pipewire pw-jack; do
  command -v "$tool" >/dev/null ||
    { echo "pipewire.sh: $tool not found (packages pipewire, pipewire-jack)" >&2; exit 1; }
done
if [ -r /dev/snd/seq ] && [ -w /dev/snd/seq ]; then
  echo "pipewire.sh: the ALSA sequencer is here, so the tools would not use JACK: skipped" >&2
  exit 77
fi
XDG_RUNTIME_DIR=$(mktemp -d "${TMPDIR:-/tmp}/movrin-pw.XXXXXX")
export XDG_RUNTIME_DIR
# Nothing of a desktop session: no bus to find, no display to start one on.
unset DISPLAY WAYLAND_DISPLAY DBUS_SESSION_BUS_ADDRESS PIPEWIRE_REMOTE
# For sanitizer builds: what PipeWire's own libraries leave behind.
export LSAN_OPTIONS=suppressions=$(dirname "$0")/pipewire-lsan.supp${LSAN_OPTIONS:+:$LSAN_OPTIONS}
pipewire >"$XDG_RUNTIME_DIR/pipewire.log" 2>&1 &
pw=$!
trap 'kill "$pw" 2>/dev/null; wait "$pw" 2>/dev/null; rm -rf "$XDG_RUNTIME_DIR"' EXIT
for _ in $(seq 1 100); do
  [ -S "$XDG_RUNTIME_DIR/pipewire-0" ] && break
  kill -0 "$pw" 2>/dev/null || { cat "$XDG_RUNTIME_DIR/pipewire.log" >&2; exit 1; }
  sleep 0.1
done
pw-jack "$@"
