#!/bin/sh
# inkplay-check under busybox sh, as on a device: a device root made to pass, then broken one way
# at a time, each break giving exactly its own "missing" line and a failing status; on the whole
# device, each check's "ok" line and no other. Also: removing any platform path of the program's
# table (but the pid file, inkplay's own) makes the check say it is missing.
#   check_test.sh <inkplay-check> <device_paths.cpp>
check=$1 table=$2
work=$(mktemp -d "${TMPDIR:-/tmp}/inkplay-check-XXXXXX")
trap 'rm -rf "$work"' EXIT
root=$work/root
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

make_root() {
  rm -rf "$root"
  mkdir -p "$root/lib" "$root/usr/lib" "$root/dev/input" "$root/sys/class/graphics/fb0" "$root/etc" \
           "$root/mnt/us/system" "$root/usr/bin" "$root/usr/java/lib/fonts"
  : > "$root/lib/ld-2.5.so"
  ln -s ld-2.5.so "$root/lib/ld-linux.so.3"
  : > "$root/lib/libc-2.5.so"
  ln -s libc-2.5.so "$root/lib/libc.so.6"
  : > "$root/usr/lib/libdirectfb-1.2.so.0"
  : > "$root/dev/fb0"
  echo 4 > "$root/sys/class/graphics/fb0/bits_per_pixel"
  echo 600,800 > "$root/sys/class/graphics/fb0/virtual_size"
  echo 300 > "$root/sys/class/graphics/fb0/stride"
  printf 'mode "600x800-8"\n    geometry 600 800 600 800 8\n    timings 0 0 0 0 0 0 0\nendmode\n' > "$root/etc/fb.modes"
  printf '# ours\nsystem=fbdev\nquiet\n' > "$root/etc/directfbrc"
  printf '#!/bin/sh\n' > "$root/mnt/us/system/mplayer"
  printf '#!/bin/sh\n' > "$root/usr/bin/lipc-set-prop"
  chmod 755 "$root/mnt/us/system/mplayer" "$root/usr/bin/lipc-set-prop"
  : > "$root/usr/java/lib/fonts/Helvetica_LT_75_Bold.ttf"
  for n in 0 1 2; do : > "$root/dev/input/event$n"; done
  python3 -c 'import socket, sys; socket.socket(socket.AF_UNIX, socket.SOCK_DGRAM).bind(sys.argv[1])' "$root/dev/log"
}

# Runs the check on the root; $status and $out hold what it said.
run_check() {
  out=$(INKPLAY_ROOT=$root busybox sh "$check")
  status=$?
}

# Each break: what it does to the root, the check it fails (whose "ok" line a whole device shows),
# and what its "missing" line says after that.
breaks='rm lib/ld-linux.so.3|dynamic loader /lib/ld-linux.so.3|:
rm lib/libc.so.6 && ln -s libc-2.3.6.so lib/libc.so.6 && : > lib/libc-2.3.6.so|C library /lib/libc.so.6| is glibc 2.3.6:
rm lib/libc.so.6|C library /lib/libc.so.6|:
rm usr/lib/libdirectfb-1.2.so.0|DirectFB 1.2 (libdirectfb-1.2.so.0)| in /lib or /usr/lib:
rm dev/fb0|framebuffer /dev/fb0|:
echo 8 > sys/class/graphics/fb0/bits_per_pixel|panel geometry| 600x800 at 4 bits a pixel, 300-byte rows: this panel is 600x800 at 8 bits
echo 768,1024 > sys/class/graphics/fb0/virtual_size|panel geometry| 600x800 at 4 bits a pixel, 300-byte rows: this panel is 768x1024
rm etc/fb.modes|/etc/fb.modes|: no 600x800 mode
sed -i "s/ 8$/ 4/" etc/fb.modes|/etc/fb.modes|: no 600x800 mode
sed -i "/timings/d" etc/fb.modes|/etc/fb.modes|: no 600x800 mode
echo system=x11 >> etc/directfbrc|DirectFB'"'"'s system|: /etc/directfbrc chooses system=x11;
chmod 644 mnt/us/system/mplayer|MPlayer /mnt/us/system/mplayer|:
rm usr/java/lib/fonts/Helvetica_LT_75_Bold.ttf|font /usr/java/lib/fonts/Helvetica_LT_75_Bold.ttf|:
rm usr/bin/lipc-set-prop|power tool /usr/bin/lipc-set-prop|:
rm dev/input/event0|keyboard /dev/input/event0|:
rm dev/input/event1|keyboard /dev/input/event1|:
rm dev/input/event2|keyboard /dev/input/event2|:
rm dev/log|system log /dev/log|:'

make_root
run_check
subjects=$(echo "$breaks" | cut -d'|' -f2 | sort -u)
[ "$status" = 0 ] && [ "$(echo "$out" | grep -c '^ok ')" = "$(echo "$subjects" | wc -l)" ] &&
  [ "$(echo "$out" | grep -vc '^ok ')" = 0 ] || fail "a whole device: status $status, not one ok line per check:
$out"
while read -r subject; do
  echo "$out" | grep -qF "ok $subject" || fail "a whole device: no ok line for $subject"
done <<SUBJECTS
$subjects
SUBJECTS

while IFS='|' read -r break subject rest; do
  make_root
  (cd "$root" && eval "$break")
  run_check
  said=$(echo "$out" | grep -v -e '^ok ' -e '^    ')
  expect="missing $subject$rest"
  [ "$status" = 1 ] && [ "$(echo "$said" | wc -l)" = 1 ] && [ "${said#"$expect"}" != "$said" ] ||
    fail "$break: status $status, expected \"$expect...\", said:
$out"
done <<BREAKS
$breaks
BREAKS

# A panel of 8 bits needs no mode, nor does a device need a directfbrc; the entry to add is shown
# where one is missing.
make_root
echo 8 > "$root/sys/class/graphics/fb0/bits_per_pixel"
echo 600 > "$root/sys/class/graphics/fb0/stride"
rm "$root/etc/fb.modes" "$root/etc/directfbrc"
run_check
[ "$(echo "$out" | grep -v '^ok ')" = "missing panel geometry 600x800 at 4 bits a pixel, 300-byte rows: this panel is \
600x800 at 8 bits a pixel, 600-byte rows; inkplay plays without its bar and titles on it" ] ||
  fail "an 8-bit panel without fb.modes or directfbrc:
$out"
make_root
rm "$root/etc/fb.modes"
run_check
echo "$out" | sed -n 's/^    //p' > "$root/etc/fb.modes"
run_check
[ "$status" = 0 ] && grep -q timings "$root/etc/fb.modes" || fail "the fb.modes entry shown does not do:
$(cat "$root/etc/fb.modes")
$out"

# Where sysfs does not tell the panel's geometry (older kernels), the check says so and passes.
make_root
rm "$root/sys/class/graphics/fb0/stride"
run_check
[ "$status" = 0 ] && echo "$out" | grep -q '^unknown panel geometry:' || fail "no sysfs geometry: status $status:
$out"

# Each platform path of the program's table, but the pid file (inkplay's own), is checked: without
# it, the check names it as missing.
for path in $(sed -n 's/^ *"\(\/[^"]*\)",$/\1/p' "$table"); do
  [ "$path" = /tmp/mplayer.pid ] && continue
  make_root
  rm -f "$root$path"
  run_check
  [ "$status" = 1 ] && echo "$out" | grep -q "^missing .*$path" || fail "$path removed, not named missing:
$out"
done

[ "$failures" = 0 ] && echo "inkplay-check: all checks pass on a whole device, and each break is named"
[ "$failures" = 0 ]
