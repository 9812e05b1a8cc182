#!/bin/sh
# inkplay-check under busybox sh, as on a device: a device root made to pass, then broken one way
# at a time, each break giving exactly its own "missing" line and a failing status. Also: every
# platform path of the program's table that the check should know is one it checks.
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

make_root
run_check
checks=$(echo "$out" | grep -c '^ok ')
[ "$status" = 0 ] && [ "$checks" = 13 ] && ! echo "$out" | grep -q '^missing' ||
  fail "a whole device: status $status, $checks ok lines:
$out"

# Each break: what it does to the root, then the start of the one line it must cause.
while IFS='|' read -r break expect; do
  make_root
  (cd "$root" && eval "$break")
  run_check
  said=$(echo "$out" | grep '^missing')
  [ "$status" = 1 ] && [ "$(echo "$said" | wc -l)" = 1 ] && [ "${said#"missing $expect"}" != "$said" ] ||
    fail "$break: status $status, expected \"missing $expect...\", said:
$out"
done <<'BREAKS'
rm lib/ld-linux.so.3|dynamic loader /lib/ld-linux.so.3:
rm lib/libc.so.6 && ln -s libc-2.3.6.so lib/libc.so.6 && : > lib/libc-2.3.6.so|C library /lib/libc.so.6 is glibc 2.3.6:
rm lib/libc.so.6|C library /lib/libc.so.6:
rm usr/lib/libdirectfb-1.2.so.0|libdirectfb-1.2.so.0 in /lib or /usr/lib:
rm dev/fb0|framebuffer /dev/fb0:
rm etc/fb.modes|/etc/fb.modes mode of 600x800 at 8, 16, 24 or 32 bits:
sed -i 's/ 8$/ 4/' etc/fb.modes|/etc/fb.modes mode of 600x800 at 8, 16, 24 or 32 bits:
echo system=x11 >> etc/directfbrc|/etc/directfbrc chooses system=x11:
chmod 644 mnt/us/system/mplayer|MPlayer /mnt/us/system/mplayer:
rm usr/java/lib/fonts/Helvetica_LT_75_Bold.ttf|font /usr/java/lib/fonts/Helvetica_LT_75_Bold.ttf:
rm usr/bin/lipc-set-prop|power tool /usr/bin/lipc-set-prop:
rm dev/input/event1|keyboard /dev/input/event1:
rm dev/log|system log /dev/log:
BREAKS

# A panel of 8 bits needs no mode; the entry to add is shown where one is missing.
make_root
echo 8 > "$root/sys/class/graphics/fb0/bits_per_pixel"
rm "$root/etc/fb.modes" "$root/etc/directfbrc"
run_check
[ "$status" = 0 ] || fail "an 8-bit panel without fb.modes or directfbrc: status $status:
$out"
make_root
rm "$root/etc/fb.modes"
run_check
echo "$out" | grep -q '^ *geometry 600 800 600 800 8$' || fail "no fb.modes entry shown:
$out"

# The program's platform paths, but the pid file (inkplay's own), all checked.
for path in $(sed -n 's/^ *"\(\/[^"]*\)",$/\1/p' "$table"); do
  [ "$path" = /tmp/mplayer.pid ] && continue
  grep -q "$path" "$check" || fail "$path is in the program's table but not checked"
done

[ "$failures" = 0 ] && echo "inkplay-check: all checks pass on a whole device, and each break is named"
[ "$failures" = 0 ]
