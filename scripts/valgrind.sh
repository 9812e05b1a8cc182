#!/usr/bin/env bash
# Runs the built inkplay once under valgrind's memcheck in a device root, with the stand-in
# player: start-up, position answers, a title, keys, the player's end. Fails on any error.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
source scripts/device_root.sh
root=$(make_device_root "$build")
trap 'rm -rf "$root"' EXIT

INKPLAY_ROOT=$root DFBARGS=system=dummy valgrind --error-exitcode=99 --leak-check=full \
  --errors-for-leak-kinds=definite --suppressions=tests/valgrind.supp --log-file="$root/vg.%p" \
  "$build/inkplay" clip.wav
daemon=$(wait_for_daemon "$root")
key() {  # a native input_event record: zero time, type EV_KEY, code, value (64-bit host layout)
  printf "$(printf '\\x00%.0s' $(seq 16))\\x01\\x00\\x$(printf %02x "$1")\\x00\\x$(printf %02x "$2")\\x00\\x00\\x00" \
    > "$root/dev/input/event0"
}
sleep 2.5
printf 'Playing clip.wav.\n' > "$root/player.say"
sleep 1.2
key 56 1; key 36 1; key 36 0; key 37 1; key 37 0; key 56 0
sleep 1.2
printf '@exit 0' > "$root/player.say"
wait_for_end "$daemon"
log=$root/vg.$daemon
grep -E "ERROR SUMMARY|definitely|indirectly" "$log" || true
if ! grep -q "ERROR SUMMARY: 0 errors" "$log"; then
  cat "$log"
  echo "valgrind: errors in inkplay"
  exit 1
fi
grep -q "pt_step 1" "$root/player.log" && grep -q "speed_set 100.0" "$root/player.log" ||
  { echo "valgrind: the keys did not reach the player"; exit 1; }
echo "valgrind: inkplay ran with 0 errors (memcheck, definite leaks included)"
