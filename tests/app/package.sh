#!/usr/bin/env bash
# The .deb the build tree makes passes lintian without an error or a warning.
#   package.sh BUILD_DIR
set -euo pipefail
out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT
cpack -G DEB --config "$1/CPackConfig.cmake" -B "$out" >"$out/cpack.log" ||
  { cat "$out/cpack.log"; exit 1; }
lintian --fail-on error,warning --tag-display-limit 0 "$out"/*.deb
