# shellcheck shell=bash
# The Windows build's stage, sourced by scripts/test and scripts/package-windows: movrin-send.exe
# and its tests cross-built with MinGW-w64 (the windows preset), the tests run under Wine. The
# sourcing script sets root, the repository's top.

# Wine in the build tree's own prefix, quiet, and never asking to install Mono or Gecko; the same
# settings as the emulator in cmake/mingw-w64-x86_64.cmake.
movrin_wine_env() {
  export WINEPREFIX="${root:?}/build/windows/wine" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
}

movrin_windows_build() {  # JOBS
  cmake --preset windows >/dev/null
  cmake --build --preset windows -j "$1"
}

# One wineserver for all the test programs, started here and stopped here (wineserver -k ends
# the server of this prefix and what runs in it, nothing else), also when a test fails.
movrin_windows_test() {  # JOBS [CTEST ARGS...]
  local jobs=$1
  shift
  (
    movrin_wine_env
    mkdir -p "$WINEPREFIX"
    wineserver -p
    trap 'wineserver -k 2>/dev/null || true' EXIT
    # Made once, before the test programs start at once and would each find it half made.
    wine wineboot --init </dev/null >/dev/null 2>&1
    ctest --preset windows -j "$jobs" --timeout 600 "$@"
  )
}
