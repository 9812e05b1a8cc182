#!/usr/bin/env bash
# The simulator's window as a person sees it, under a real X server (Xvfb): once inkplay shows a
# title and the bar, a screenshot of the window equals, pixel for pixel, the PNG frame of the same
# update scaled as the window is; Alt+J typed into the window reaches the player as "pt_step 1";
# closing the window (as a window manager does) ends inkplay with status 0 and the simulator too.
#   window_test.sh SIMULATOR STAND_IN_PLAYER
set -uo pipefail
sim=$1 player=$2
for tool in Xvfb xdotool import convert python3; do
  command -v $tool >/dev/null || { echo "window test: $tool missing"; exit 77; }
done
work=$(mktemp -d)
export INKPLAY_OWNER=window-test.$$  # marks the X server and the simulator for scripts/leftovers.sh
cleanup() { kill $sim_pid $xvfb_pid 2>/dev/null; wait 2>/dev/null; rm -rf "$work"; }
trap cleanup EXIT
fail() { echo "window test: $*"; cat "$work/out/log.txt" 2>/dev/null | tail -20; exit 1; }
wait_for() {  # seconds, then a command that must succeed
  local until=$((SECONDS + $1)); shift
  until "$@"; do ((SECONDS < until)) || return 1; sleep 0.1; done
}

Xvfb -displayfd 3 -screen 0 1300x1700x24 -nolisten tcp 3>"$work/display" 2>/dev/null &
xvfb_pid=$!
wait_for 10 test -s "$work/display" || fail "no X server"
export DISPLAY=:$(cat "$work/display")
"$sim" --out "$work/out" --window --scale 2 --player "$player" clip.wav >"$work/sim.log" 2>&1 &
sim_pid=$!
wait_for 10 grep -q "panel-00001" "$work/out/log.txt" || fail "no first frame"
root=$(awk '/device root/ {print $4; exit}' "$work/out/log.txt")
echo 40 > "$root/player.percent"
printf 'Playing Bj\xc3\xb6rk.mp3.\n\0' > "$root/player.say"
wait_for 10 grep -q "update 0,796 - 599,799" "$work/out/log.txt" || fail "no bar"
wait_for 5 grep -q ",773 - 595," "$work/out/log.txt" || fail "no title"
window=$(xdotool search --name '^inkplay-sim$' | head -1)
[ -n "$window" ] || fail "no window"

# The bar is redrawn each second with the same pixels; a frame that came between the screenshot
# and the look at the latest frame is caught by trying again.
same=no
for _ in 1 2 3; do
  import -window "$window" -depth 8 gray:"$work/window.raw"
  frame=$(grep -o 'panels/panel-[0-9]*.png' "$work/out/log.txt" | tail -1)
  convert "$work/out/$frame" -filter point -resize 200% -depth 8 gray:"$work/frame.raw"
  cmp -s "$work/window.raw" "$work/frame.raw" && { same=yes; break; }
  sleep 0.3
done
[ $same = yes ] || fail "the window differs from $frame"

xdotool windowfocus --sync "$window" key alt+j
wait_for 5 grep -q " pt_step 1$" "$root/player.log" || fail "Alt+J did not reach the player"

python3 - "$window" <<'PY' || fail "could not ask the window to close"
# WM_DELETE_WINDOW, as a window manager's close button sends it.
import ctypes, sys
x = ctypes.cdll.LoadLibrary("libX11.so.6")
x.XOpenDisplay.restype = ctypes.c_void_p
x.XInternAtom.restype = ctypes.c_ulong
x.XInternAtom.argtypes = [ctypes.c_void_p, ctypes.c_char_p, ctypes.c_int]
x.XSendEvent.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.c_int, ctypes.c_long, ctypes.c_void_p]
x.XFlush.argtypes = [ctypes.c_void_p]
class ClientMessage(ctypes.Structure):
    _fields_ = [("type", ctypes.c_int), ("serial", ctypes.c_ulong), ("send_event", ctypes.c_int),
                ("display", ctypes.c_void_p), ("window", ctypes.c_ulong), ("message_type", ctypes.c_ulong),
                ("format", ctypes.c_int), ("l", ctypes.c_long * 5), ("pad", ctypes.c_long * 12)]
d = x.XOpenDisplay(None)
w = int(sys.argv[1])
e = ClientMessage(type=33, window=w, message_type=x.XInternAtom(d, b"WM_PROTOCOLS", 0), format=32)
e.l[0] = x.XInternAtom(d, b"WM_DELETE_WINDOW", 0)
x.XSendEvent(d, w, 0, 0, ctypes.byref(e))
x.XFlush(d)
PY
wait_for 10 grep -q "inkplay ended" "$work/out/log.txt" || fail "closing the window did not end inkplay"
grep -q "inkplay ended, status 0" "$work/out/log.txt" || fail "inkplay did not end with status 0"
wait $sim_pid || fail "the simulator did not end with status 0"
echo "window test: screenshot equals $frame at scale 2; Alt+J reached the player; closing ended inkplay"
