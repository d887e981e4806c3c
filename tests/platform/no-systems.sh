#!/usr/bin/env bash
# A build with every MIDI system switched off still builds and links none of their libraries,
# and its programs say plainly that there is nothing to reach.
#   no-systems.sh SOURCE_DIR BUILD_DIR
set -euo pipefail
src=$1 build=$2
cmake -S "$src" -B "$build" -DCMAKE_BUILD_TYPE=Debug -DMOVRIN_WERROR=ON -DMOVRIN_BUILD_GUI=OFF \
  -DMOVRIN_BUILD_TESTS=OFF -DMOVRIN_BUILD_BENCH=OFF -DMOVRIN_WITH_ALSA=OFF \
  -DMOVRIN_WITH_JACK=OFF -DMOVRIN_WITH_USB=OFF >"$build.configure.log" ||
  { cat "$build.configure.log"; exit 1; }
grep -x -- "-- MIDI systems: none" "$build.configure.log"
cmake --build "$build" --target movrin-send movrin-device -j "$(nproc)"

fail=0
for program in "$build"/tools/send/movrin-send "$build"/tools/device/movrin-device; do
  if ldd "$program" | grep -E 'libasound|libjack|libusb|librtmidi'; then
    echo "FAIL: $program links a MIDI system's library"
    fail=1
  fi
done

set +e
err=$("$build"/tools/send/movrin-send --list 2>&1 >/dev/null)
code=$?
set -e
expected="movrin-send: no MIDI system could be reached (this build has none)"
if [ "$code" != 1 ] || [ "$err" != "$expected" ]; then
  echo "FAIL: movrin-send --list: exit $code, said: $err"
  fail=1
fi
exit $fail
