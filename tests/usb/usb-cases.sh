#!/usr/bin/env bash
# USB MIDI for real, inside scripts/alsa-vm: a USB MIDI gadget on the dummy host controller,
# which the same kernel enumerates as a USB MIDI device (snd-usb-audio). The gadget's own raw
# MIDI port gets exactly the bytes the USB packets carried, and movrin-raw-device reads them
# there. One line per case; fails when any case failed.
#   usb-cases.sh SEND RAW_DEVICE [WINDOW_TESTS]
set -uo pipefail
send=${1:?movrin-send} raw=${2:?movrin-raw-device} window=${3:-}
work=$(mktemp -d)
chmod 755 "$work"  # the no-permission case reads its image as another user
failed=0
gadget=/sys/kernel/config/usb_gadget/movrin
trap 'kill $(jobs -p) 2>/dev/null; rm -rf "$work"' EXIT

plug() {
  echo "$(ls /sys/class/udc)" >"$gadget/UDC"
  for _ in $(seq 1 200); do
    card_of "USB-Audio" >/dev/null && card_of "MIDI Gadget" >/dev/null && return 0
    sleep 0.05
  done
  echo "the gadget did not appear"; return 1
}
unplug() { echo "" >"$gadget/UDC"; }
card_of() {  # DRIVER: the raw MIDI device of the first card with that driver
  local n
  n=$(sed -n "s/^ *\([0-9]*\) \[.*\]: $1 - .*/\1/p" /proc/asound/cards | head -n1)
  [ -n "$n" ] && [ -e "/dev/snd/midiC${n}D0" ] && echo "/dev/snd/midiC${n}D0"
}
setup() {
  mount -t configfs none /sys/kernel/config 2>/dev/null
  mount -t debugfs none /sys/kernel/debug 2>/dev/null
  mkdir -p "$gadget/strings/0x409" "$gadget/configs/c.1" "$gadget/functions/midi.usb0" || return 1
  echo 0x1d6b >"$gadget/idVendor"
  echo 0x0104 >"$gadget/idProduct"
  echo "Movrin" >"$gadget/strings/0x409/manufacturer"
  echo "Movrin Test Device" >"$gadget/strings/0x409/product"
  ln -s "$gadget/functions/midi.usb0" "$gadget/configs/c.1/"
  plug
}
started() {  # OUTPUT
  for _ in $(seq 1 300); do
    grep -q ready "$1" 2>/dev/null && return 0
    sleep 0.1
  done
  echo "not ready: $(cat "$1")"; return 1
}
# The gadget's MIDI function now and then drops the first OUT transfer after a port opens
# (about one transfer in ten under load, Linux 6.1; up to one in three with every core busy,
# twice in a row at times): the bus shows the announce delivered whole, the gadget's raw MIDI
# input counts none of it, and the device never answers. A case that failed that way, as the
# bus capture proves, runs again, up to five times in all; any other failure stands.
attempts=5
announce_lost_in_gadget() {
  [ -s "$work/mon" ] || return 1
  awk '$3 == "S" && $4 ~ /^Bo:/ && / = 04f00020 / { sent[$1] = 1 }
       $3 == "C" && $4 ~ /^Bo:/ && sent[$1] && $5 == 0 { carried = 1 }
       $3 == "C" && $4 ~ /^Bi:/ && $5 == 0 && $6 > 0 { answered = 1 }
       END { exit !(carried && !answered) }' "$work/mon"
}
# A case that hangs fails on its own, with what it had printed, instead of taking the VM's
# time limit with it and hiding which case it was.
case_limit=90
kill_tree() {  # PID
  local child
  for child in $(pgrep -P "$1"); do kill_tree "$child"; done
  kill -KILL "$1" 2>/dev/null
}
bounded() {  # COMMAND...
  "$@" &
  local case_pid=$! dog code
  (
    sleep "$case_limit"
    echo "timed out after $case_limit s; still running:"
    ps -o pid,stat,wchan:20,args --ppid "$case_pid" 2>/dev/null
    kill_tree "$case_pid"
  ) &
  dog=$!
  wait "$case_pid"
  code=$?
  kill_tree "$dog"
  wait "$dog" 2>/dev/null
  return "$code"
}
check() {  # NAME COMMAND...
  local attempt mon
  for attempt in $(seq 1 "$attempts"); do
    : >"$work/mon"
    if [ -r /sys/kernel/debug/usb/usbmon/0u ]; then
      cat /sys/kernel/debug/usb/usbmon/0u >"$work/mon" &
      mon=$!
    fi
    bounded "${@:2}" >"$work/log" 2>&1
    local code=$?
    [ -z "${mon:-}" ] || { kill "$mon"; wait "$mon" 2>/dev/null; mon=; }
    [ "$code" -eq 0 ] && { echo "ok [$1]"; return 0; }
    [ "$attempt" -lt "$attempts" ] && announce_lost_in_gadget || break
    echo "again [$1]: the bus carried the announce, the gadget lost it"
    sed 's/^/  /' "$work/log"
    # Afresh, as a user would start again: whatever the lost case left behind is gone.
    unplug
    plug || break
  done
  echo "FAIL [$1]"; sed 's/^/  /' "$work/log"; failed=$((failed + 1))
}

# A random image and its transfer as movrin-send exports it: $work/NAME.bin and NAME.syx.
image() {  # NAME BYTES
  head -c "$2" /dev/urandom >"$work/$1.bin"
  "$send" --export "$work/$1.syx" "$work/$1.bin" >/dev/null
}
# The device on the gadget's side, expecting exactly WIRE; its pid in $device once it listens.
serve() {  # WIRE
  "$raw" "$(card_of "MIDI Gadget")" "$1" >"$work/raw.out" 2>&1 &
  device=$!
  started "$work/raw.out"
}
# A 300 KiB transfer in the background, back once it has passed 10%; its pid in $sender.
start_big() {
  image big 307200 && serve "$work/big.syx" || return 1
  "$send" --out "(USB)" --in "(USB)" --timeout 20 "$work/big.bin" >"$work/send.out" 2>&1 &
  sender=$!
  # By the clock: a loop's turns are slow and uneven under emulation.
  local until=$((SECONDS + 30))
  while [ "$SECONDS" -lt "$until" ] && kill -0 "$sender" 2>/dev/null; do
    grep -q "blocks 10%" "$work/send.out" 2>/dev/null && return 0
    sleep 0.05
  done
  grep -q "blocks 10%" "$work/send.out" && return 0  # a sender that ended just then
  echo "the transfer did not get to 10%:"; cat "$work/send.out"; dmesg | tail -n 8
  kill "$sender" "$device" 2>/dev/null; wait "$sender" "$device"
  return 1
}

# One image over the direct path, every byte checked on the device's side.
transfer() {  # BYTES
  image image "$1" && serve "$work/image.syx" || return 1
  "$send" --out "(USB)" --in "(USB)" --timeout 20 "$work/image.bin" >"$work/send.out" 2>&1 ||
    { cat "$work/send.out"; kill "$device"; wait "$device"; cat "$work/raw.out"; dmesg | tail -n 5; return 1; }
  wait "$device" && cat "$work/raw.out" && cat "$work/send.out"
}
# The window over the cable: the same check on the device's side.
window_transfer() {
  unplug; plug || return 1  # the kernel's driver bound afresh, as after the replug a user was told to do
  image window 153600 && serve "$work/window.syx" || return 1
  MOVRIN_USB_PORT="Movrin Test Device MIDI 1 (USB)" MOVRIN_USB_IMAGE="$work/window.bin" \
    "$window" --gtest_brief=1 --gtest_filter='*SendsTheChosenImage*' >"$work/window.out" 2>&1 ||
    { cat "$work/window.out"; kill "$device"; wait "$device"; cat "$work/raw.out"; return 1; }
  wait "$device"; local code=$?
  cat "$work/raw.out" "$work/window.out"
  [ "$code" -eq 0 ] || return 1
  # Linux 6.1 never binds its driver again: the window must say so.
  case $(uname -r) in
    6.1.*) grep -q "told to replug" "$work/window.out" || { echo "no word of replugging"; return 1; } ;;
  esac
}
# SIGTERM to the window in mid-transfer: it closes without a question and gives the interface
# back, which shows on the kernel's side.
window_terminated() {
  unplug; plug || return 1
  image window 307200 && serve "$work/window.syx" || return 1
  MOVRIN_USB_PORT="Movrin Test Device MIDI 1 (USB)" MOVRIN_USB_IMAGE="$work/window.bin" \
    "$window" --gtest_brief=1 --gtest_filter='*Sigterm*' >"$work/window.out" 2>&1
  local code=$?
  kill "$device" 2>/dev/null; wait "$device"
  cat "$work/window.out"
  [ "$code" -eq 0 ] && kernel_has_it_back "$work/window.out"
}
# The list offers the cable once, on the direct path, and says so.
listing() {
  "$send" --list >"$work/list" || return 1
  cat "$work/list"
  [ "$(grep -c "Movrin Test Device" "$work/list")" -eq 2 ] &&
    [ "$(grep -c "Movrin Test Device MIDI 1 (USB) *\[USB direct\]$" "$work/list")" -eq 2 ]
}
# What we route around: the kernel's own path breaks a SysEx that carries 0x89. A message of
# 7-bit bytes after it marks the end of what arrived.
kernel_path() {
  image kernel 2000 && serve "$work/kernel.syx" || return 1
  cat "$work/kernel.syx" >"$(card_of "USB-Audio")"
  wait "$device"
  cat "$work/raw.out"
  grep -q "wrong byte" "$work/raw.out"
}
# After a transfer the kernel has its port back, or the user was told to replug.
given_back() {
  transfer 2000 >"$work/back.out" 2>&1 || { cat "$work/back.out"; return 1; }
  if grep -q "plugged in again" "$work/back.out"; then
    echo "told to replug"; return 0
  fi
  card_of "USB-Audio" || { echo "no kernel port and no word of it"; return 1; }
}
# On a kernel that takes the interface back, a SysEx of 7-bit bytes through the kernel's own
# port arrives whole after a transfer. Linux 6.12 now and then fails its probe then ("in the
# shutdown state": the card it had before is still being freed); the user must then be told to
# replug, and truly have no port.
taken_back() {
  transfer 2000 >"$work/back.out" 2>&1 || { cat "$work/back.out"; return 1; }
  kernel_has_it_back "$work/back.out"
}
# After our program: the kernel's port takes a 7-bit SysEx, or the program's OUTPUT said that
# only a replug brings it back, and the kernel truly has no working port then (Linux 6.1 keeps
# a stale one on the card, which nothing reaches; later kernels remove it).
kernel_has_it_back() {  # OUTPUT
  if grep -q "plugged in again" "$1"; then
    case $(uname -r) in
      6.1.*) ;;
      *) ! card_of "USB-Audio" || { echo "told to replug, but the kernel has its port"; return 1; } ;;
    esac
    echo "told to replug"; dmesg | tail -n 2
    unplug; plug  # as the user was told
    return
  fi
  local port
  port=$(card_of "USB-Audio") ||
    { echo "the kernel has no port for the device"; dmesg | tail -n 8; return 1; }
  printf '\xf0\x7d\x01\x02\x03\x04\x05\x06\x07\x08\x09\x0a\x0b\xf7' >"$work/seven.syx"
  local attempt code
  for attempt in $(seq 1 "$attempts"); do
    serve "$work/seven.syx" || return 1
    cat "$work/seven.syx" >"$port"
    wait "$device"
    code=$?
    cat "$work/raw.out"
    # The gadget's loss of the first transfer after its port opened (see above), seen from
    # here: none of the message arrived. A port that does not work loses every one.
    [ "$code" -ne 0 ] && [ "$attempt" -lt "$attempts" ] && grep -q "nothing arrived at byte 0" "$work/raw.out" ||
      break
    echo "again: nothing of the message arrived"
  done
  [ "$code" -eq 0 ]
}
# Unplugged in mid-transfer: exit 3, and the message says where it stopped.
unplugged() {
  start_big || return 1
  unplug
  wait "$sender"; local code=$?
  cat "$work/send.out"
  plug >/dev/null
  [ "$code" -eq 3 ] && grep -q "went away after block" "$work/send.out"
}
# Ctrl-C in mid-transfer: exit 130, and the interface is given back (or the user told to
# replug); the transfers after this one find it free.
interrupted() {
  start_big || return 1
  kill -INT "$sender"
  wait "$sender"; local code=$?
  kill "$device" 2>/dev/null; wait "$device"
  cat "$work/send.out"
  [ "$code" -eq 130 ] || return 1
  if grep -q "plugged in again" "$work/send.out"; then
    unplug; plug  # as the user was told, so that the next case finds the kernel's port
  else
    card_of "USB-Audio" || { echo "no kernel port and no word of it"; dmesg | tail -n 8; return 1; }
  fi
}
# Without access to the device node: the error says so and names the fix; nothing is sent.
no_permission() {
  head -c 2000 /dev/urandom >"$work/small.bin"
  timeout 5 head -c 1 "$(card_of "MIDI Gadget")" >"$work/nothing" &
  local pid=$! code
  setpriv --reuid=65534 --regid=65534 --clear-groups \
    "$send" --out "(USB)" --in "(USB)" --timeout 5 "$work/small.bin" 2>"$work/err"
  code=$?
  wait "$pid"
  cat "$work/err"
  [ "$code" -eq 3 ] && [ ! -s "$work/nothing" ] && grep -q "no permission.*udev rule" "$work/err"
}

check setup setup || exit 1
# MOVRIN_USB_CASES=reattach: only what differs on a kernel whose driver takes the interface back.
if [ "${MOVRIN_USB_CASES:-}" = reattach ]; then
  echo "kernel $(uname -r)"
  check taken-back taken_back
  check interrupted interrupted
  check taken-back-after-interrupt taken_back
  [ -z "$window" ] || check window-sigterm window_terminated
  echo "usb: $failed failed"
  [ "$failed" -eq 0 ]
  exit
fi
check list listing
check size-1 transfer 1
check one-block transfer 896
check 300KiB transfer 307200
[ -z "$window" ] || check window window_transfer
[ -z "$window" ] || check window-sigterm window_terminated
check interrupted interrupted
check kernel-path-corrupts kernel_path
check given-back given_back
check no-permission no_permission
check unplugged unplugged
echo "usb: $failed failed"
[ "$failed" -eq 0 ]
