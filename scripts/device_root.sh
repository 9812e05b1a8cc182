# Sourced by host scripts: make_device_root BUILD_DIR prints the path of a new device root with
# the framebuffer, FIFO keyboards, the stand-in player (answering position queries with 40),
# a silent power tool and a real TrueType font.
make_device_root() {
  local build=$1 root
  root=$(mktemp -d /tmp/inkplay-host-XXXXXX)
  mkdir -p "$root"/{dev/input,mnt/us/system,usr/bin,usr/java/lib/fonts,tmp}
  head -c 240000 /dev/zero > "$root/dev/fb0"
  for i in 0 1 2; do mkfifo "$root/dev/input/event$i"; done
  mkfifo "$root/player.say"
  ln -s "$PWD/$build/tests/stand_in_player" "$root/mnt/us/system/mplayer"
  printf '#!/bin/sh\n' > "$root/usr/bin/lipc-set-prop"
  chmod +x "$root/usr/bin/lipc-set-prop"
  for font in /usr/share/fonts/truetype/liberation2/LiberationSans-Bold.ttf \
              /usr/share/fonts/truetype/dejavu/DejaVuSans-Bold.ttf; do
    [ -e "$font" ] && ln -sf "$font" "$root/usr/java/lib/fonts/Helvetica_LT_75_Bold.ttf" && break
  done
  echo 40 > "$root/player.percent"
  echo "$root"
}

# wait_for_daemon ROOT: the pid of the inkplay that started the stand-in player in ROOT.
wait_for_daemon() {
  for _ in $(seq 200); do [ -s "$1/player.log" ] && break; sleep 0.1; done
  awk '/^start/ {print $3; exit}' "$1/player.log"
}

# wait_for_end PID: until that process has gone (at most 30 s).
wait_for_end() {
  for _ in $(seq 300); do kill -0 "$1" 2>/dev/null || return 0; sleep 0.1; done
}
