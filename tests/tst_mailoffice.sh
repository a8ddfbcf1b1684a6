#!/bin/bash
# shellcheck disable=SC2015 # "A && B || fail": fail when either fails
# The mail office scripts, run for real (as root) in a folder and on ports of
# their own, beside any other office.
set -u
S=$(cd "$(dirname "$0")/../scripts" && pwd)
D=$(mktemp -d /tmp/tavms.XXXX) OUT=$(mktemp -d /tmp/tavms-out.XXXX)
fails=0 seen=0
fail() { echo "  failed: $*"; fails=$((fails + 1)); }
# Ends a part: "ok" when it added no failure.
part() { [ "$fails" -eq "$seen" ] && echo "ok: $1" || echo "FAIL: $1"; seen=$fails; }
cleanup() {
    exec 5>&- 2>/dev/null
    "$S/mailoffice-stop.sh" "$D/two" >/dev/null 2>&1
    "$S/mailoffice-stop.sh" "$D/tls" >/dev/null 2>&1
    "$S/mailoffice-stop.sh" "$D" >/dev/null 2>&1
    rm -rf "$D" "$OUT"
}
trap cleanup EXIT
trap "exit 1" INT TERM

start() { "$S/mailoffice-start.sh" "$@" >"$OUT/out" 2>"$OUT/err"; }
port() { sed -n "s/^$1=//p" "$D/ports.env"; }
pids() { cat "$D/spool/pid/master.pid" "$D/dovecot/run/master.pid" 2>/dev/null | xargs; }
# Reads one line from fd 5 (bounded) and checks its start.
reply5() { local l=; IFS= read -r -t 5 l <&5; [[ $l == "$1"* ]]; }
# Connects to 127.0.0.1:$1, reads the greeting $2, optionally logs in as $3/$4.
greets() (
    exec 5<>"/dev/tcp/127.0.0.1/$1" && reply5 "$2" || exit 1
    if [ $# -eq 4 ]; then
        printf 'USER %s\r\n' "$3" >&5 && reply5 +OK && printf 'PASS %s\r\n' "$4" >&5 && reply5 +OK || exit 1
    fi
    printf 'QUIT\r\n' >&5
) 2>/dev/null
free_ports() {
    python3 -c 'import socket
s = [socket.socket() for _ in range(2)]
for x in s: x.bind(("127.0.0.1", 0))
print(*(x.getsockname()[1] for x in s))'
}

# A clean start: no errors, 50 mailboxes.
start "$D" || fail "start: exit status $?"
if grep -q "command not found" "$OUT/out" "$OUT/err"; then fail "start: command not found"; fi
[ ! -s "$OUT/err" ] || fail "start wrote to stderr: $(cat "$OUT/err")"
[ "$(wc -l <"$D/users.txt")" -eq 50 ] || fail "users.txt: not 50 lines"
grep -qx "user50 pass50 user50@tavrino.test" "$D/users.txt" || fail "users.txt: no user50"
greets "$(port POP3_PORT)" +OK user50@tavrino.test pass50 || fail "POP3 login as user50"
part "start"

# A second start leaves the running office and its clients alone.
smtp=$(port SMTP_PORT) pop3=$(port POP3_PORT) before=$(pids)
exec 5<>"/dev/tcp/127.0.0.1/$smtp" && reply5 220 || fail "SMTP greeting on $smtp"
start "$D" || fail "second start: exit status $?"
grep -q "already running" "$OUT/out" || fail "second start did not say 'already running'"
[ "$(port SMTP_PORT) $(port POP3_PORT)" = "$smtp $pop3" ] || fail "second start changed the ports"
[ "$(pids)" = "$before" ] || fail "second start changed the daemons ($before -> $(pids))"
printf 'NOOP\r\n' >&5 && reply5 250 || fail "SMTP client connected before the second start is cut off"
exec 5>&-
part "second start"

# Explicit ports, after a stop.
"$S/mailoffice-stop.sh" "$D" >/dev/null || fail "stop: exit status $?"
read -r p1 p2 <<<"$(free_ports)"
start "$D" "$p1" "$p2" || fail "start on ports $p1 $p2: $(cat "$OUT/err")"
[ "$(port SMTP_PORT) $(port POP3_PORT)" = "$p1 $p2" ] || fail "ports.env does not hold $p1 $p2"
greets "$p1" 220 || fail "no SMTP greeting on $p1"
greets "$p2" +OK || fail "no POP3 greeting on $p2"
part "explicit ports"

# A port in use (here the first office's SMTP port) is refused.
read -r p3 _ <<<"$(free_ports)"
if start "$D/two" "$p1" "$p3"; then fail "start on a port in use succeeded"; fi
grep -q "port $p1 .*already in use" "$OUT/err" || fail "no clear message: $(cat "$OUT/err")"
[ ! -e "$D/two/ports.env" ] || fail "start on a port in use left ports.env"
part "port in use"

# Stop leaves no daemon running.
last=$(pids)
"$S/mailoffice-stop.sh" "$D" >/dev/null || fail "stop: exit status $?"
for p in $before $last; do
    case "$(ps -o stat= -p "$p")" in '' | Z*) ;; *) fail "daemon $p still running after stop" ;; esac
done
if pgrep -r R,S,D,T,t -af -- "$D/" >&2; then fail "processes of $D left after stop"; fi
part "stop"

# TLS mode, in a folder of its own: STLS/POP3S and STARTTLS/SMTPS, AUTH
# required for mail, and the test certificates that clients must refuse.
grep -qx TLS=0 "$D/ports.env" || fail "plain ports.env lacks TLS=0"
start --tls "$D/tls" || fail "TLS start: exit status $?: $(cat "$OUT/err")"
[ ! -s "$OUT/err" ] || fail "TLS start wrote to stderr: $(cat "$OUT/err")"
for k in TLS=1 "CA_FILE=$D/tls/tls/ca.pem" "TLS_DIR=$D/tls/tls"; do
    grep -qxF "$k" "$D/tls/ports.env" || fail "TLS ports.env lacks $k"
done
for f in ca server otherca rogue otherhost; do
    [ -s "$D/tls/tls/$f.pem" ] && [ -s "$D/tls/tls/$f.key" ] || fail "no $f.pem/$f.key"
done
# Prints one line per failed check.
timeout 60 python3 - "$D/tls/ports.env" >"$OUT/tls" 2>&1 <<'EOF' || fail "TLS checks: exit status $?"
import poplib, smtplib, socket, ssl, sys, threading, time
env = dict(l.rstrip("\n").split("=", 1) for l in open(sys.argv[1]))
H, ca, tlsdir = "127.0.0.1", env["CA_FILE"], env["TLS_DIR"]
ctx = ssl.create_default_context(cafile=ca)
port = lambda k: int(env[k])
token = "tls-%d" % time.time_ns()
msg = "From: user2@tavrino.test\r\nTo: user3@tavrino.test\r\nSubject: %s\r\n\r\nhi\r\n"

def check(what, f):
    try:
        f()
    except Exception as e:
        print("%s: %s: %s" % (what, type(e).__name__, e))

def refused(what, f):
    try:
        f()
    except (poplib.error_proto, smtplib.SMTPException):
        return
    raise AssertionError(what + " was accepted")

def pop_login(p, user, pw):
    p.user(user)
    p.pass_(pw)
    p.stat()
    p.quit()

def pop_stls():
    p = poplib.POP3(H, port("POP3_PORT"), timeout=10)
    assert "STLS" in p.capa(), "no STLS in CAPA"
    p.stls(context=ctx)
    pop_login(p, "user1", "pass1")

def pop_before_stls():
    p = poplib.POP3(H, port("POP3_PORT"), timeout=10)
    refused("USER/PASS before STLS", lambda: (p.user("user1"), p.pass_("pass1")))
    p.close()
    p = poplib.POP3(H, port("POP3_PORT"), timeout=10)
    refused("AUTH PLAIN before STLS",
            lambda: p._shortcmd("AUTH PLAIN AHVzZXIxAHBhc3Mx"))  # user1, pass1
    p.close()

def smtp_starttls():
    s = smtplib.SMTP(H, port("SMTP_PORT"), timeout=10)
    s.ehlo()
    assert s.has_extn("starttls"), "no STARTTLS"
    assert not s.has_extn("auth"), "AUTH offered before STARTTLS"
    s.starttls(context=ctx)
    s.ehlo()
    s.login("user2", "pass2")
    s.sendmail("user2@tavrino.test", ["user3@tavrino.test"], msg % token)
    s.quit()

def smtp_unauthenticated():
    s = smtplib.SMTP(H, port("SMTP_PORT"), timeout=10)
    s.starttls(context=ctx)
    refused("mail without AUTH",
            lambda: s.sendmail("user2@tavrino.test", ["user3@tavrino.test"], msg % "x"))
    s.close()

def smtps():
    s = smtplib.SMTP_SSL(H, port("SMTPS_PORT"), context=ctx, timeout=10)
    s.login("user2@tavrino.test", "pass2")
    s.sendmail("user2@tavrino.test", ["user3@tavrino.test"], msg % (token + "s"))
    s.quit()

def arrived():
    deadline = time.monotonic() + 15
    while True:
        p = poplib.POP3_SSL(H, port("POP3S_PORT"), context=ctx, timeout=10)
        p.user("user3@tavrino.test")
        p.pass_("pass3")
        subjects = b"".join(l for i in range(p.stat()[0]) for l in p.top(i + 1, 0)[1])
        p.quit()
        if ("Subject: " + token).encode() in subjects:
            return
        assert time.monotonic() < deadline, "mail for user3 did not arrive"
        time.sleep(0.2)

# A handshake with a throw-away server presenting $name.pem, verified
# against CA_FILE for "localhost".
def verifies(name):
    srv = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
    srv.load_cert_chain("%s/%s.pem" % (tlsdir, name), "%s/%s.key" % (tlsdir, name))
    ls = socket.create_server((H, 0))
    def serve():
        c = ls.accept()[0]
        try:
            srv.wrap_socket(c, server_side=True).close()
        except OSError:
            c.close()
    th = threading.Thread(target=serve)
    th.start()
    try:
        with socket.create_connection(ls.getsockname(), timeout=10) as c:
            ctx.wrap_socket(c, server_hostname="localhost").close()
        return True
    except ssl.SSLCertVerificationError:
        return False
    finally:
        th.join(10)
        ls.close()

def certs():
    assert verifies("server"), "server.pem does not verify"
    assert not verifies("rogue"), "rogue.pem verifies"
    assert not verifies("otherhost"), "otherhost.pem verifies for localhost"

check("POP3 STLS login", pop_stls)
check("POP3 login before STLS", pop_before_stls)
check("POP3S login", lambda: pop_login(poplib.POP3_SSL(H, port("POP3S_PORT"), context=ctx,
                                                       timeout=10), "user1@tavrino.test", "pass1"))
check("SMTP STARTTLS + AUTH", smtp_starttls)
check("SMTP without AUTH", smtp_unauthenticated)
check("SMTPS + AUTH", smtps)
check("mail via STARTTLS", arrived)
check("certificates", certs)
EOF
while IFS= read -r l; do fail "TLS: $l"; done <"$OUT/tls"
"$S/mailoffice-stop.sh" "$D/tls" >/dev/null || fail "TLS stop: exit status $?"
part "TLS"

[ "$fails" -eq 0 ] && echo "all passed" || { echo "$fails failed"; exit 1; }
