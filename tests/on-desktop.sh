#!/bin/sh
# Runs a command on a virtual screen of its own (Xvfb) with a window manager
# and a notification area, as a desk meets them on a Linux desktop.
set -eu
dir=$(mktemp -d)
xvfb= wm= tray=
trap 'kill $tray $wm $xvfb 2>/dev/null || true; rm -rf "$dir"' EXIT
# Xvfb picks a free display itself and tells its number once it accepts clients.
Xvfb -displayfd 3 -screen 0 1280x800x24 -nolisten tcp 3>"$dir/display" >"$dir/xvfb.log" 2>&1 &
xvfb=$!
for _ in $(seq 100); do
    [ -s "$dir/display" ] && break
    kill -0 "$xvfb" 2>/dev/null || break
    sleep 0.1
done
[ -s "$dir/display" ] || { echo "Xvfb did not start:" >&2; cat "$dir/xvfb.log" >&2; exit 1; }
DISPLAY=:$(cat "$dir/display")
export DISPLAY
openbox >/dev/null 2>&1 &
wm=$!
trayer --edge top --align right >/dev/null 2>&1 &
tray=$!
# The command waits for the notification area itself (it asks the screen).
QT_QPA_PLATFORM=xcb "$@"
