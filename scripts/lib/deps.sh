# Debian packages the build, the tests and the demo need; sourced by scripts/test and scripts/demo.
MOVRIN_PACKAGES=(
  cmake g++ make pkg-config git
  qt6-base-dev qt6-base-dev-tools libgl-dev
  librtmidi-dev jackd2 libjack-jackd2-dev libcli11-dev libusb-1.0-0-dev
  libgtest-dev libgmock-dev libbenchmark-dev
  clang clang-format clang-tidy libclang-rt-dev
  xvfb xauth openbox x11-utils xdotool fonts-wqy-zenhei xdg-utils
  fp-utils appstream lintian
  # The ALSA tests' VM (scripts/alsa-vm) and the PipeWire tests.
  qemu-system-x86 busybox-static cpio kmod xz-utils procps alsa-utils pipewire pipewire-jack
  # movrin-send.exe: the cross compiler, GoogleTest's sources for it, Wine for its tests, and zip
  # for scripts/package-windows.
  g++-mingw-w64-x86-64-posix googletest wine wine64 zip
)

# Installs whatever is missing, with sudo when not root.
movrin_install_deps() {
  local missing=()
  local pkg
  for pkg in "${MOVRIN_PACKAGES[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q "install ok installed"; then
      missing+=("$pkg")
    fi
  done
  if [ ${#missing[@]} -eq 0 ]; then
    return 0
  fi
  echo "Installing: ${missing[*]}"
  local sudo=()
  if [ "$(id -u)" -ne 0 ]; then
    sudo=(sudo)
  fi
  # jackd2 asks about realtime priority; the answer does not matter here.
  echo "jackd2 jackd/tweak_rt_limits boolean false" | "${sudo[@]}" debconf-set-selections 2>/dev/null || true
  "${sudo[@]}" env DEBIAN_FRONTEND=noninteractive apt-get update -qq
  "${sudo[@]}" env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends \
    "${missing[@]}"
}
