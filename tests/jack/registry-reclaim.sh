#!/usr/bin/env bash
# A server of ours killed outright leaves its slot in JACK's eight-slot registry; reclaim takes
# such slots back by name and leaves a foreign server running and reachable.
#   registry-reclaim.sh JACK_SCRIPT
set -uo pipefail
jack_script=${1:?jack-server.sh}
ours="movrin-test-reclaim-$$-" foreign="foreign-reclaim-$$"
trap '"$jack_script" stop "$foreign"; "$jack_script" reclaim "$ours"' EXIT
fail() {
  echo "FAIL: $*" >&2
  exit 1
}

"$jack_script" start "$foreign" || fail "the foreign server did not start"
for server in "${ours}a" "${ours}b"; do
  "$jack_script" start "$server" || fail "$server did not start"
  pid=$(cat "${TMPDIR:-/tmp}/movrin-jack-$server.pid")
  kill -KILL "$pid" && timeout 10 tail --pid="$pid" -f /dev/null
  rm -f "${TMPDIR:-/tmp}/movrin-jack-$server.pid"
done
left=$("$jack_script" stale "$ours" 2>&1) && fail "the killed servers' slots are not seen"
[[ "$left" == *"${ours}a ${ours}b"* || "$left" == *"${ours}b ${ours}a"* ]] ||
  fail "not both slots seen: $left"
"$jack_script" reclaim "$ours" || fail "reclaim failed"
"$jack_script" stale "$ours" || fail "slots left after reclaim"
JACK_DEFAULT_SERVER=$foreign timeout 5 jack_wait -c | grep -qx running ||
  fail "the foreign server is gone"
echo "ok: two dead slots taken back, the foreign server still answers"
