#!/bin/sh
# The window under a real window manager (Xvfb + openbox): a normal top-level window with a
# taskbar entry of its own, listed in _NET_CLIENT_LIST and transient for nothing, opened in the
# middle of the screen and offering no maximise.
# Usage: taskbar.sh MOVRIN_UPDATE
set -u
prog=$1
work=$(mktemp -d)
pids=
cleanup() { kill $pids 2>/dev/null; wait 2>/dev/null; rm -rf "$work"; }
trap cleanup EXIT
# Waits up to 30 s for a command to succeed.
await() { i=0; until "$@" >/dev/null 2>&1; do i=$((i + 1)); [ $i -lt 300 ] || return 1; sleep 0.1; done; }

exec 3>"$work/display"
Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 &
pids="$!"
await test -s "$work/display" || { echo "Xvfb did not start"; exit 1; }
DISPLAY=:$(cat "$work/display")
export DISPLAY
openbox >/dev/null 2>&1 &
pids="$pids $!"
await sh -c 'xprop -root _NET_SUPPORTING_WM_CHECK | grep -q "window id"' ||
  { echo "openbox did not start"; exit 1; }
mkdir -p "$work/Movrin Update/bin"
(cd "$work" && QT_QPA_PLATFORM=xcb exec "$prog") >"$work/app.log" 2>&1 &
pids="$pids $!"

find_window() {
  for w in $(xprop -root _NET_CLIENT_LIST | sed -n 's/.*# //p' | tr -d ','); do
    if xprop -id "$w" WM_NAME | grep -q '"Movrin Update"'; then
      echo "$w" >"$work/window"
      return 0
    fi
  done
  return 1
}
await find_window || { echo "the window is not in _NET_CLIENT_LIST"; cat "$work/app.log"; exit 1; }
win=$(cat "$work/window")
xprop -id "$win" WM_TRANSIENT_FOR _NET_WM_WINDOW_TYPE
xprop -id "$win" WM_TRANSIENT_FOR | grep -q 'not found' || { echo "transient for a window"; exit 1; }
xprop -id "$win" _NET_WM_WINDOW_TYPE | grep -q '_NET_WM_WINDOW_TYPE_NORMAL' ||
  { echo "not a normal window"; exit 1; }
# Fixed in size, so no maximising; and opened in the middle of the screen (frame aside).
xprop -id "$win" _NET_WM_ALLOWED_ACTIONS | grep -q MAXIMIZE && { echo "can be maximised"; exit 1; }
xwininfo -id "$win" | awk '/Absolute upper-left X/ { x = $NF } /Absolute upper-left Y/ { y = $NF }
  /Width:/ { w = $NF } /Height:/ { h = $NF }
  END { dx = x + w / 2 - 512; dy = y + h / 2 - 384; exit !(dx * dx < 900 && dy * dy < 2500) }' ||
  { echo "not centred:"; xwininfo -id "$win"; exit 1; }
echo "a top-level window with its own taskbar entry, centred, not to be maximised"
