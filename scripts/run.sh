#!/bin/bash
# Builds Tavrino, starts a local mail office (Postfix and Dovecot on
# loopback) and two desks that exchange memos: desk A (user1, 総務部) and desk
# B (user2, 営業部). Closing both desks, or Ctrl+C, stops the mail office.
# Without a desktop the desks run on a virtual screen shown over VNC.
# Installs what it needs on Debian 12.
#
# Usage: scripts/run.sh [--tls | --oauth]
#   --tls   the mail office wants TLS (STARTTLS and SMTP AUTH, STLS), and
#           the desks are set up for it, trusting the office's own CA.
#   --oauth as --tls (implies it), and the office runs its own OAuth 2.0
#           authorization server; the desks log in with OAuth and start
#           signed out: each signs in once from its settings dialog, in the
#           browser. (--oauth=xoauth2: the office offers XOAUTH2 only.)
set -eu
TLS_OPT=
OAUTH_OPT=
for arg in "$@"; do
    case "$arg" in
    --tls) TLS_OPT=--tls ;;
    --oauth | --oauth=xoauth2) OAUTH_OPT=$arg ;;
    *)
        echo "usage: $0 [--tls | --oauth]" >&2
        exit 2
        ;;
    esac
done
# The OAuth office is a TLS office.
[ -z "$OAUTH_OPT" ] || TLS_OPT=$OAUTH_OPT
cd "$(dirname "$0")/.."
ROOT=$(pwd)
./scripts/install-deps.sh
cmake -S . -B build -G Ninja -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j2 --target Tavrino TavOptions TavReply

DEMO=${TAV_DEMO_DIR:-/tmp/tavrino-demo}
OFFICE=$DEMO/office
mkdir -p "$DEMO"
./scripts/mailoffice-start.sh ${TLS_OPT:+"$TLS_OPT"} "$OFFICE"
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

# Without a desktop, a virtual screen with a window manager and a tray, shown
# over VNC on loopback so that the desks can be watched and used.
if [ -z "${DISPLAY:-}" ]; then
    # The first display number no other X server holds.
    n=77
    while [ -e "/tmp/.X11-unix/X$n" ] || [ -e "/tmp/.X$n-lock" ]; do n=$((n + 1)); done
    export DISPLAY=:$n
    Xvfb "$DISPLAY" -screen 0 1280x800x24 >"$DEMO/xvfb.log" 2>&1 &
    xvfbpid=$!
    xpids+=("$xvfbpid")
    # Up to 10 seconds for the screen to accept clients; Xvfb may exit sooner.
    for _ in $(seq 100); do
        timeout 2 xdpyinfo >/dev/null 2>&1 && break
        kill -0 "$xvfbpid" 2>/dev/null || break
        sleep 0.1
    done
    if ! timeout 2 xdpyinfo >/dev/null 2>&1; then
        echo "Error: Xvfb could not start the virtual screen $DISPLAY. Its output ($DEMO/xvfb.log):" >&2
        cat "$DEMO/xvfb.log" >&2
        exit 1
    fi
    openbox >/dev/null 2>&1 &
    xpids+=($!)
    if command -v trayer >/dev/null; then
        trayer --edge top --align right >/dev/null 2>&1 &
        xpids+=($!)
    fi
    echo "No DISPLAY: the desks run on the virtual screen $DISPLAY."

    # No password: x11vnc listens on 127.0.0.1 alone; it picks the first free
    # port from 5900 and reports it as PORT=n.
    vnclog=$DEMO/x11vnc.log
    vncport=
    if command -v x11vnc >/dev/null; then
        x11vnc -display "$DISPLAY" -localhost -no6 -nopw -forever -shared -autoport 5900 \
            >"$vnclog" 2>&1 &
        vncpid=$!
        xpids+=("$vncpid")
        for _ in $(seq 100); do
            vncport=$(sed -n 's/^PORT=\([0-9][0-9]*\)$/\1/p' "$vnclog")
            [ -n "$vncport" ] && break
            kill -0 "$vncpid" 2>/dev/null || break
            sleep 0.1
        done
        if [ -z "$vncport" ]; then
            echo "x11vnc did not start; the desks run without VNC. Its output ($vnclog):"
            tail -n 20 "$vnclog"
        fi
    else
        echo "x11vnc is not installed; the desks run without VNC."
    fi
    if [ -n "$vncport" ]; then
        echo "VNC: 127.0.0.1:$vncport (no password, this machine only)."
        echo "  From another machine: ssh -L $vncport:127.0.0.1:$vncport ${HOSTNAME:-<this host>},"
        echo "  then a VNC viewer on localhost:$vncport."
    fi
fi

make_desk() { # folder user password name left
    local desk=$DEMO/$1
    rm -rf "$desk"
    cp -r build/Tavrino "$desk"
    # With TLS, the CA file to trust; empty without. With OAuth, the
    # authorization server's endpoints instead of a password.
    local ca='' authorize='' token=''
    [ -z "$TLS_OPT" ] || ca=$CA_FILE
    [ -z "$OAUTH_OPT" ] || authorize=$OAUTH_AUTHORIZE_URL token=$OAUTH_TOKEN_URL
    python3 - "$desk" "$2" "$3" "$4" "$5" "$MAIL_DOMAIN" "$SMTP_PORT" "$POP3_PORT" "$ca" \
        "$authorize" "$token" <<'PY'
import sys
desk, user, password, name, left, domain, smtp, pop3, ca, authorize, token = sys.argv[1:]
tls = ("Pop3Security=stls\r\nSmtpSecurity=starttls\r\nSmtpAuth=1\r\nCAFile=%s\r\n" % ca
       if ca else "")
if authorize:
    password = ""
    tls += ("AuthMethod=oauth\r\nOAuthProvider=custom\r\nOAuthClientID=tavrino-desk\r\n"
            "OAuthAuthorizeURL=%s\r\nOAuthTokenURL=%s\r\nOAuthScopes=mail offline_access\r\n"
            % (authorize, token))
ini = ("[Tavrino]\r\nUserName=%s\r\nUserID=%s\r\nPassword=%s\r\nDomain=%s\r\n"
       "Pop3Server=127.0.0.1\r\nPop3Port=%s\r\nSmtpServer=127.0.0.1\r\nSmtpPort=%s\r\n%s"
       "List=members.lst\r\nInterval=10\r\nSleep=0\r\nLeft= %s\r\nTop= 1200\r\n"
       % (name, user, password, domain, pop3, smtp, tls, left))
open(desk + "/Tavrino.ini", "wb").write(ini.encode("cp932"))
members = ("総務部 佐藤;user1@%s\r\n営業部 鈴木;user2@%s\r\n---;\r\n"
           "経理部 高橋;user3@%s\r\n" % (domain, domain, domain))
open(desk + "/members.lst", "wb").write(members.encode("cp932"))
PY
}
make_desk deskA user1 pass1 "総務部 佐藤" 1500
make_desk deskB user2 pass2 "営業部 鈴木" 8000

echo "Desk A: $DEMO/deskA (user1)   Desk B: $DEMO/deskB (user2)"
if [ -n "$TLS_OPT" ]; then
    echo "TLS: POP3 with STLS on $POP3_PORT, SMTP with STARTTLS and AUTH on $SMTP_PORT," \
        "trusting $CA_FILE."
fi
if [ -n "$OAUTH_OPT" ]; then
    echo "OAuth: the desks are not signed in yet; each says so in a box. Press its"
    echo "  サインイン (or the one in 設定, the button \"アプリケーションの設定\", then"
    echo "  保存(S)), and on the page that opens in the browser sign in as user1 / pass1"
    echo "  (desk A) or user2 / pass2 (desk B) and press 許可する. Authorization server:"
    echo "  $OAUTH_URL (log: $OFFICE/log/oauth.log)."
    if [ "$(id -u)" -eq 0 ]; then
        # Chromium, the browser here, refuses to run as root in its sandbox.
        mkdir -p "$DEMO/bin"
        printf '#!/bin/sh\nexec chromium --no-sandbox --user-data-dir='%s/browser' "$@"\n' \
            "$DEMO" >"$DEMO/bin/xdg-open"
        chmod 755 "$DEMO/bin/xdg-open"
        export PATH="$DEMO/bin:$PATH"
    fi
fi
echo "Pick 営業部 鈴木 on desk A, fill in the caller, press 送信(&S):"
echo "within 10 seconds the memo pops up on desk B."
echo "Close both desks, or press Ctrl+C here, to stop the desks, the mail office"
echo "and the virtual screen."
"$DEMO/deskA/Tavrino" &
pids+=($!)
"$DEMO/deskB/Tavrino" &
pids+=($!)
wait "${pids[@]}" || true
