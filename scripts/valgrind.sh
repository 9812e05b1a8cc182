#!/usr/bin/env bash
# Runs the built inkplay once under valgrind's memcheck in a device root, with the stand-in
# player: start-up, position answers, a title, keys, the player's end. Fails on any error.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
root=$(mktemp -d /tmp/inkplay-vg-XXXXXX)
trap 'rm -rf "$root"' EXIT
mkdir -p "$root"/{dev/input,mnt/us/system,usr/bin,usr/java/lib/fonts,tmp}
head -c 240000 /dev/zero > "$root/dev/fb0"
for i in 0 1 2; do mkfifo "$root/dev/input/event$i"; done
mkfifo "$root/player.say"
ln -s "$PWD/$build/tests/stand_in_player" "$root/mnt/us/system/mplayer"
printf '#!/bin/sh\n' > "$root/usr/bin/lipc-set-prop" && chmod +x "$root/usr/bin/lipc-set-prop"
for font in /usr/share/fonts/truetype/liberation2/LiberationSans-Bold.ttf \
            /usr/share/fonts/truetype/dejavu/DejaVuSans-Bold.ttf; do
  [ -e "$font" ] && ln -sf "$font" "$root/usr/java/lib/fonts/Helvetica_LT_75_Bold.ttf" && break
done
echo 40 > "$root/player.percent"

INKPLAY_ROOT=$root DFBARGS=system=dummy valgrind --error-exitcode=99 --leak-check=full \
  --errors-for-leak-kinds=definite --suppressions=tests/valgrind.supp --log-file="$root/vg.%p" \
  "$build/inkplay" clip.wav
for _ in $(seq 100); do [ -s "$root/player.log" ] && break; sleep 0.1; done
daemon=$(awk '/^start/ {print $3; exit}' "$root/player.log")
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
for _ in $(seq 300); do kill -0 "$daemon" 2>/dev/null || break; sleep 0.1; done
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
