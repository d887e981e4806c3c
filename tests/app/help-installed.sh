#!/usr/bin/env bash
# Help in an installed copy, as a user presses it: the build installed under a fresh prefix,
# its window under Xvfb and openbox, a fake CHM viewer (xchm) and a fake browser (xdg-open) on
# PATH that write down what they were given. Help must hand the data folder's help.chm to the
# viewer when it is there, else the installed help.chm, and the installed HTML manual to the
# browser when there is no viewer.
#   help-installed.sh CMAKE BUILD_DIR
set -u
cmake=$1 build=$2
work=$(mktemp -d)
pids=
cleanup() { kill $pids 2>/dev/null; wait 2>/dev/null; rm -rf "$work"; }
trap cleanup EXIT
await() { local i=0; until "$@" >/dev/null 2>&1; do i=$((i + 1)); [ $i -lt 300 ] || return 1; sleep 0.1; done; }

"$cmake" --install "$build" --prefix "$work/prefix" >/dev/null || { echo "install failed"; exit 1; }
doc="$work/prefix/share/doc/MovrinUpdate"
mkdir -p "$work/viewer" "$work/browser"
for fake in viewer/xchm viewer/xdg-open browser/xdg-open; do
  printf '#!/bin/sh\necho "$*" >"%s/given.%s"\n' "$work" "$(basename "$fake")" >"$work/$fake"
  chmod +x "$work/$fake"
done

exec 3>"$work/display"
Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 &
pids="$!"
await test -s "$work/display" || { echo "Xvfb did not start"; exit 1; }
export DISPLAY=:$(cat "$work/display")
openbox >/dev/null 2>&1 &
pids="$pids $!"
await sh -c 'xprop -root _NET_SUPPORTING_WM_CHECK | grep -q "window id"' || { echo "no openbox"; exit 1; }

failed=0
# CASE: the window started in DIR with PATH=FAKES presses Help; PROGRAM must be given EXPECTED.
press_help() {  # CASE DIR FAKES PROGRAM EXPECTED
  rm -f "$work"/given.*
  (cd "$2" && PATH="$work/$3" QT_QPA_PLATFORM=xcb exec "$work/prefix/bin/movrin-update") \
    >"$work/app.log" 2>&1 &
  local app=$! win
  await xdotool search --name '^Movrin Update$' || { echo "FAIL [$1]: no window"; cat "$work/app.log"; return 1; }
  win=$(xdotool search --name '^Movrin Update$' | head -n1)
  xdotool windowactivate --sync "$win"
  # From the file list, which has the focus: Midi Out, Midi In, About, Refresh, Help (Send is
  # disabled without a selection).
  xdotool key --delay 50 Tab Tab Tab Tab Tab space
  await test -s "$work/given.$4"
  kill "$app"; wait "$app" 2>/dev/null
  local given
  given=$(cat "$work/given.$4" 2>/dev/null)
  if [ "$given" = "$5" ] && [ "$(ls "$work"/given.* | wc -l)" -eq 1 ]; then
    echo "ok [$1]: $4 $given"
  else
    echo "FAIL [$1]: $4 was given \"$given\", expected \"$5\"; given: $(cat "$work"/given.* 2>/dev/null)"
    return 1
  fi
}

mkdir -p "$work/data/Movrin Update" "$work/home"
cp "$doc/html/index.html" "$work/data/Movrin Update/help.chm"
press_help local-chm "$work/data" viewer xchm "$work/data/Movrin Update/help.chm" || failed=1
if [ -f "$doc/help.chm" ]; then
  press_help installed-chm "$work/home" viewer xchm "$doc/help.chm" || failed=1
else
  echo "skip [installed-chm]: the build made no help.chm (chmcmd is missing)"
fi
press_help html-in-browser "$work/home" browser xdg-open "file://$doc/html/index.html" || failed=1
exit $failed
