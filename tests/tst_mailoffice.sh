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
    "$S/mailoffice-stop.sh" "$D/oauth" >/dev/null 2>&1
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

# TLS mode, in a folder of its own: what the office itself refuses. Logins
# and mail over STLS, POP3S, STARTTLS and SMTPS, and the certificates, are
# proven by the program's own tests on this mode.
grep -qx TLS=0 "$D/ports.env" || fail "plain ports.env lacks TLS=0"
start --tls "$D/tls" || fail "TLS start: exit status $?: $(cat "$OUT/err")"
[ ! -s "$OUT/err" ] || fail "TLS start wrote to stderr: $(cat "$OUT/err")"
for k in TLS=1 "CA_FILE=$D/tls/tls/ca.pem" "TLS_DIR=$D/tls/tls"; do
    grep -qxF "$k" "$D/tls/ports.env" || fail "TLS ports.env lacks $k"
done
# Prints one line per failed check.
timeout 60 python3 - "$D/tls/ports.env" >"$OUT/tls" 2>&1 <<'EOF' || fail "TLS checks: exit status $?"
import poplib, smtplib, ssl, sys
env = dict(l.rstrip("\n").split("=", 1) for l in open(sys.argv[1]))
ctx = ssl.create_default_context(cafile=env["CA_FILE"])
H, pop3, smtp = "127.0.0.1", int(env["POP3_PORT"]), int(env["SMTP_PORT"])

def refused(what, f):
    try:
        f()
        print(what + " was accepted")
    except (poplib.error_proto, smtplib.SMTPException):
        pass

p = poplib.POP3(H, pop3, timeout=10)
refused("USER/PASS before STLS", lambda: (p.user("user1"), p.pass_("pass1")))
s = smtplib.SMTP(H, smtp, timeout=10)
s.ehlo()
if not s.has_extn("starttls") or s.has_extn("auth"):
    print("before STARTTLS: STARTTLS missing or AUTH offered")
s.starttls(context=ctx)
refused("mail without AUTH",
        lambda: s.sendmail("user2@tavrino.test", ["user3@tavrino.test"], "Subject: x\r\n\r\nx"))
EOF
while IFS= read -r l; do fail "TLS: $l"; done <"$OUT/tls"
"$S/mailoffice-stop.sh" "$D/tls" >/dev/null || fail "TLS stop: exit status $?"
part "TLS"

# OAuth mode: the code flow with PKCE, then the token on POP3 after STLS and
# SMTP after STARTTLS with both mechanisms; no token before STLS, none revoked.
start --oauth "$D/oauth" || fail "OAuth start: exit status $?: $(cat "$OUT/err")"
grep -qxF 'OAUTH_MECHANISMS="OAUTHBEARER XOAUTH2"' "$D/oauth/ports.env" || fail "OAuth ports.env"
timeout 60 python3 - "$D/oauth/ports.env" >"$OUT/oauth" 2>&1 <<'EOF' || fail "OAuth checks: exit status $?"
import base64, http.client, json, poplib, smtplib, ssl, sys, urllib.parse as up
env = dict(l.rstrip("\n").split("=", 1) for l in open(sys.argv[1]))
H, ctx = "127.0.0.1", ssl.create_default_context(cafile=env["CA_FILE"])
pop3, smtp = int(env["POP3_PORT"]), int(env["SMTP_PORT"])
web = http.client.HTTPConnection(H, int(env["OAUTH_PORT"]), timeout=10)
def call(method, path, form=None):
    web.request(method, path, form and up.urlencode(form),
                {"Content-Type": "application/x-www-form-urlencoded"})
    r = web.getresponse()
    return r, r.read().decode()
q = dict(response_type="code", client_id="tavrino-desk", redirect_uri="http://127.0.0.1:9/",
         state="s-1", scope="mail", code_challenge_method="S256",
         code_challenge="RY58Zf29F6I6Keibp9Sfq05wSIhYFeOgsRJSJ0nTRL8")
if 'id="allow"' not in call("GET", "/authorize?" + up.urlencode(q))[1]:
    print("GET /authorize: no consent page")
r, _ = call("POST", "/authorize", dict(q, user="user1", password="pass1", action="allow"))
back = up.urlsplit(r.getheader("Location", ""))
code = dict(up.parse_qsl(back.query))
if r.status != 302 or back.netloc != "127.0.0.1:9" or code.get("state") != "s-1":
    print("POST /authorize: no redirect with the state")
grant = dict(grant_type="authorization_code", code=code.get("code"), client_id="tavrino-desk",
             redirect_uri=q["redirect_uri"])
if '"invalid_grant"' not in call("POST", "/token", dict(grant, code_verifier="x" * 54))[1]:
    print("a wrong verifier was not invalid_grant")
verifier = "Tavrino-verifier-0123456789-abcdefghijklmnopqrstuvwxyz"
token = json.loads(call("POST", "/token", dict(grant, code_verifier=verifier))[1])["access_token"]

def sasl(mech, port):
    a = "auth=Bearer %s\x01\x01" % token
    raw = ("user=user1@tavrino.test\x01" if mech == "XOAUTH2" else
           "n,a=user1@tavrino.test,\x01host=127.0.0.1\x01port=%d\x01" % port) + a
    return mech + " " + base64.b64encode(raw.encode()).decode()
def pop3_in(mech, stls=True):
    p = poplib.POP3(H, pop3, timeout=10)
    try:
        if stls:
            p.stls(ctx)
        if p._shortcmd("AUTH " + sasl(mech, pop3)).startswith(b"+ "):
            p._shortcmd("")  # the failure's JSON challenge
        return True
    except poplib.error_proto:
        return False
    finally:
        p.close()
def smtp_in(mech):
    with smtplib.SMTP(H, smtp, timeout=10) as s:
        s.starttls(context=ctx)
        s.ehlo()
        return s.docmd("AUTH", sasl(mech, smtp))[0] == 235
for mech in ("XOAUTH2", "OAUTHBEARER"):
    for where, ok in (("POP3", pop3_in(mech)), ("SMTP", smtp_in(mech))):
        if not ok:
            print("%s: AUTH %s with the token refused" % (where, mech))
if pop3_in("XOAUTH2", stls=False):
    print("POP3: a token was taken before STLS")
call("POST", "/admin/revoke?user=user1@tavrino.test")
if pop3_in("XOAUTH2"):
    print("POP3: a revoked token was taken")
EOF
while IFS= read -r l; do fail "OAuth: $l"; done <"$OUT/oauth"
# XOAUTH2 alone: the office starts again in that mode; no OAUTHBEARER offered.
start --oauth=xoauth2 "$D/oauth" || fail "XOAUTH2 start: exit status $?: $(cat "$OUT/err")"
# shellcheck source=/dev/null
. "$D/oauth/ports.env"
ehlo=$(timeout 20 python3 -c 'import smtplib, ssl, sys
s = smtplib.SMTP("127.0.0.1", int(sys.argv[1]), timeout=10)
s.starttls(context=ssl.create_default_context(cafile=sys.argv[2]))
s.ehlo()
print(s.esmtp_features.get("auth"))' "$SMTP_PORT" "$CA_FILE")
[ "$OAUTH_MECHANISMS $ehlo" = "XOAUTH2  PLAIN LOGIN XOAUTH2" ] || fail "XOAUTH2 mode: $OAUTH_MECHANISMS, EHLO AUTH$ehlo"
oapid=$(cat "$D/oauth/oauth.pid")
"$S/mailoffice-stop.sh" "$D/oauth" >/dev/null || fail "OAuth stop: exit status $?"
case "$(ps -o stat= -p "$oapid")" in '' | Z*) ;; *) fail "authorization server $oapid left after stop" ;; esac
part "OAuth"

[ "$fails" -eq 0 ] && echo "all passed" || { echo "$fails failed"; exit 1; }
