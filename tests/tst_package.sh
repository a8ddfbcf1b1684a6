#!/bin/sh
# The Debian package: built by cpack, read with dpkg-deb, checked by lintian, desktop-file-validate
# and appstreamcli; extracted, run by two users (as root: two unprivileged ids) who cannot write
# its program folder. Usage: on-desktop.sh tst_package.sh BUILD_DIR
set -eu
build=$1 docs=$(cd "$(dirname "$0")/../docs" && pwd)
work=$(mktemp -d /tmp/tavpkg-XXXXXX) && chmod 0755 "$work" && pids=""
trap 'for p in $pids; do kill "$p" 2>/dev/null || true; done; wait; rm -rf "$work"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }
wait_for() { n=0; until "$@"; do n=$((n + 1)); [ $n -lt 200 ] || return 1; sleep 0.1; done; } # 20 s
[ "$(id -u)" -eq 0 ] || fail "run as root: the desks run as two other users"

cpack -G DEB --config "$build/CPackConfig.cmake" -B "$work/out" >"$work/log" || fail "$(cat "$work/log")"
deb=$(ls "$work"/out/tavrino_*.deb) # its Depends as dpkg-shlibdeps computes it, sorted by name:
dpkg-deb -f "$deb" Depends | grep -q 'libc6 .*libqt6core6 .*libqt6network6 .*libqt6widgets6 ' ||
    fail "Depends: $(dpkg-deb -f "$deb" Depends)"
# The program folder whole, the command, icons; the rest lintian and the validators read.
dpkg-deb -c "$deb" | awk '{ print $6 $7 $8 }' >"$work/files"
for f in $(cd "$build/Tavrino" && ls | sed 's|^|opt/tavrino/|') usr/bin/tavrino-\>/opt/tavrino/Tavrino \
    usr/share/icons/hicolor/16x16/apps/tavrino.png usr/share/icons/hicolor/256x256/apps/tavrino.png; do
    grep -qx "./$f" "$work/files" || fail "the package lacks $f"
done
lintian --fail-on error "$deb" || fail lintian
root=$work/root && dpkg-deb -x "$deb" "$root"
desktop-file-validate "$root/usr/share/applications/tavrino.desktop" || fail desktop-file-validate
appstreamcli validate --no-net "$root"/usr/share/metainfo/*.xml || fail appstreamcli
shot=$(sed -n 's|.*<image>.*/docs/\(.*\)</image>.*|\1|p' "$root"/usr/share/metainfo/*.xml)
[ -f "$docs/$shot" ] || fail "the screenshot $shot is not in docs/"

wait_for sh -c 'xprop -root _NET_SUPPORTING_WM_CHECK 2>&1 | grep -q "window id" &&
    xdotool search --name "^panel\$" >/dev/null' || fail "openbox or trayer"
chmod 0555 "$root/opt/tavrino" && program=$root/opt/tavrino/Tavrino
desk() { # USER (a or b) COMMAND...: runs the command as USER in the background; $desk: its process
    u=$1 id=$([ "$1" = a ] && echo 65534 || echo 65533) && shift
    mkdir -p -m 0700 "$work/home-$u" "$work/run-$u" && chown -R "$id" "$work/home-$u" "$work/run-$u"
    setpriv --reuid="$id" --regid=65534 --clear-groups env -i DISPLAY="$DISPLAY" \
        HOME="$work/home-$u" XDG_RUNTIME_DIR="$work/run-$u" "$@" >>"$work/log" 2>&1 &
    desk=$! && pids="$pids $desk"; }
focused() { # a window of process $1 named $2 (a regular expression) has the focus
    [ "$(xdotool getwindowfocus)" = "$(xdotool search --all --onlyvisible --pid "$1" --name "$2")" ]; }
main_shown() { # a window of process $1 titled Tavrino, 300 pixels high or more: not a box
    xdotool search --all --onlyvisible --pid "$1" --name '^Tavrino$' getwindowgeometry %@ 2>/dev/null |
        grep -q 'Geometry: [0-9]*x[3-9][0-9][0-9]$'; }
keys() { for k; do case $k in +*) xdotool type --delay 10 "${k#+}" ;; *) xdotool key "$k" ;; esac; done; }

# First run: the settings dialog; the list is chosen in the file dialog, start at login ticked.
printf 'A;a@tavrino.test\r\n' >"$work/members.lst" && chmod 0644 "$work/members.lst"
desk a "$program"
wait_for focused $desk ' - Tavrino$' || fail "no settings dialog at the first run"
keys $(printf 'Tab %.0s' $(seq 11)) space
wait_for focused $desk '^Open$' || fail "no file dialog"
keys "+$work/members.lst" Return
wait_for focused $desk ' - Tavrino$' || fail "the file dialog stays"
keys $(printf 'shift+Tab %.0s' $(seq 11)) +Sato Tab +u1 Tab Tab +tavrino.test Tab +127.0.0.1 Tab +1 \
    Tab Tab +127.0.0.1 Tab +1 Tab Tab Tab Tab Tab +60 Tab +0 Tab space alt+s
ini=$work/home-a/.config/Tavrino/Tavrino.ini entry=$work/home-a/.config/autostart/tavrino.desktop
wait_for test -f "$ini" || fail "no $ini"
[ "$(stat -c %a "$ini" "${ini%/*}" | xargs)" = "600 700" ] && grep -q '^UserName=Sato' "$ini" || fail "$ini: $(ls -l "$ini")"
grep -qx "Exec=\"$program\" --autostart" "$entry" && desktop-file-validate "$entry" || fail "$entry"
keys Return && wait_for focused $desk '^Tavrino$' && keys Return # restart; ends
wait $desk # the first run ends (or the test's time-out tells)

# The next start uses the file; so does the other user's desk, beside it.
desk a "$program" && first=$desk
wait_for main_shown $first || fail "the next start shows no main window"
mkdir -p -m 0700 "$work/home-b/.config/Tavrino" && cp "$ini" "$work/home-b/.config/Tavrino/"
desk b "$program"
wait_for main_shown $desk || fail "the second user's desk does not start"
kill $first || fail "the first copy ended"

# By the autostart command line: in the notification area, taking the name the killed copy left.
eval "set -- $(sed -n 's/^Exec=//p' "$entry")"
desk a "$@"
wait_for sh -c "xwininfo -tree -id $(xdotool search --name '^panel$' | head -1) | grep -q Tavrino" ||
    fail "no notification icon"
! main_shown $desk || fail "the main window shows at login"
