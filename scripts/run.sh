#!/bin/bash
# Builds Tavrino, starts a local mail office (Postfix and Dovecot on
# loopback) and two desks that exchange memos: desk A (user1, 総務部) and desk
# B (user2, 営業部). Closing both desks stops the mail office.
# Installs what it needs on Debian 12.
set -eu
cd "$(dirname "$0")/.."
ROOT=$(pwd)
./scripts/install-deps.sh
cmake -S . -B build -G Ninja -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j2 --target Tavrino TavOptions TavReply

DEMO=${TAV_DEMO_DIR:-/tmp/tavrino-demo}
OFFICE=$DEMO/office
mkdir -p "$DEMO"
./scripts/mailoffice-start.sh "$OFFICE"
# shellcheck disable=SC1091
. "$OFFICE/ports.env"

pids=()
xpids=()
cleaned=0
cleanup() {
    [ "$cleaned" -eq 1 ] && return
    cleaned=1
    for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done
    "$ROOT/scripts/mailoffice-stop.sh" "$OFFICE" || true
    for p in "${xpids[@]}"; do kill "$p" 2>/dev/null || true; done
}
trap cleanup EXIT
trap 'exit 130' INT TERM

# Without a desktop, a virtual screen with a window manager and a tray.
if [ -z "${DISPLAY:-}" ]; then
    export DISPLAY=:77
    Xvfb "$DISPLAY" -screen 0 1280x800x24 >/dev/null 2>&1 &
    xpids+=($!)
    sleep 1
    openbox >/dev/null 2>&1 &
    xpids+=($!)
    if command -v trayer >/dev/null; then
        trayer --edge top --align right >/dev/null 2>&1 &
        xpids+=($!)
    fi
    echo "No DISPLAY: the desks run on the virtual screen $DISPLAY."
fi

make_desk() { # folder user password name left
    local desk=$DEMO/$1
    rm -rf "$desk"
    cp -r build/Tavrino "$desk"
    python3 - "$desk" "$2" "$3" "$4" "$5" "$MAIL_DOMAIN" "$SMTP_PORT" "$POP3_PORT" <<'PY'
import sys
desk, user, password, name, left, domain, smtp, pop3 = sys.argv[1:]
ini = ("[Tavrino]\r\nUserName=%s\r\nUserID=%s\r\nPassword=%s\r\nDomain=%s\r\n"
       "Pop3Server=127.0.0.1\r\nPop3Port=%s\r\nSmtpServer=127.0.0.1\r\nSmtpPort=%s\r\n"
       "List=members.lst\r\nInterval=10\r\nSleep=0\r\nLeft= %s\r\nTop= 1200\r\n"
       % (name, user, password, domain, pop3, smtp, left))
open(desk + "/Tavrino.ini", "wb").write(ini.encode("cp932"))
members = ("総務部 佐藤;user1@%s\r\n営業部 鈴木;user2@%s\r\n---;\r\n"
           "経理部 高橋;user3@%s\r\n" % (domain, domain, domain))
open(desk + "/members.lst", "wb").write(members.encode("cp932"))
PY
}
make_desk deskA user1 pass1 "総務部 佐藤" 1500
make_desk deskB user2 pass2 "営業部 鈴木" 8000

echo "Desk A: $DEMO/deskA (user1)   Desk B: $DEMO/deskB (user2)"
echo "Pick 営業部 鈴木 on desk A, fill in the caller, press 送信(&S):"
echo "within 10 seconds the memo pops up on desk B. Close both desks to stop."
"$DEMO/deskA/Tavrino" &
pids+=($!)
"$DEMO/deskB/Tavrino" &
pids+=($!)
wait "${pids[@]}" || true
