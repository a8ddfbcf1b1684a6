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

# TLS mode, then OAuth mode (TLS mode and more) in both forms, in a folder of their own: what
# the office itself refuses. Logins and mail over STLS, POP3S, STARTTLS and SMTPS, the certificates,
# the sign-in and the logins with each OAuth mechanism are the program's own tests (tst_e2e_oauth).
# Here: a password or a token before STLS, mail without AUTH, a wrong PKCE verifier and a revoked
# token are refused; AUTH comes after STARTTLS alone, with the mode's mechanisms.
for mode in tls "oauth OAUTHBEARER XOAUTH2" "oauth=xoauth2 XOAUTH2"; do
    m=${mode%% *}
    start --"$m" "$D/tls" || fail "--$m start: exit status $?: $(cat "$OUT/err")"
    [ ! -s "$OUT/err" ] || fail "--$m start wrote to stderr: $(cat "$OUT/err")"
    # Prints one line per failed check.
    timeout 60 python3 - "$D/tls/ports.env" "${mode#tls}" >"$OUT/tls" 2>&1 <<'EOF' || fail "--$m checks: exit status $?"
import base64, contextlib, http.client, json, poplib, smtplib, ssl, sys, urllib.parse as up
env = dict(l.rstrip("\n").split("=", 1) for l in open(sys.argv[1]))
H, ctx, mechanisms = "127.0.0.1", ssl.create_default_context(cafile=env["CA_FILE"]), sys.argv[2].split()[1:]
def pop3_in(login, stls=True):
    with contextlib.closing(poplib.POP3(H, int(env["POP3_PORT"]), timeout=10)) as p:
        try:
            return (stls and p.stls(ctx), *login(p))[-1].startswith(b"+OK")
        except poplib.error_proto:
            return False
if pop3_in(lambda p: (p.user("user1"), p.pass_("pass1")), stls=False):
    print("USER/PASS before STLS was accepted")
s = smtplib.SMTP(H, int(env["SMTP_PORT"]), timeout=10)
s.ehlo()
if not s.has_extn("starttls") or s.has_extn("auth"):
    print("before STARTTLS: STARTTLS missing or AUTH offered")
s.starttls(context=ctx)
s.ehlo()
if s.esmtp_features["auth"].split() != ["PLAIN", "LOGIN"] + mechanisms:
    print("AUTH offered: %s" % s.esmtp_features["auth"])
with contextlib.suppress(smtplib.SMTPException):
    s.sendmail("user2@tavrino.test", ["user3@tavrino.test"], "Subject: x\r\n\r\nx")
    print("mail without AUTH was accepted")
if not mechanisms:
    sys.exit()
to = dict(client_id="tavrino-desk", redirect_uri="http://127.0.0.1:9/")
web = http.client.HTTPConnection(H, int(env["OAUTH_PORT"]), timeout=10)
def post(path, **form):
    web.request("POST", path, up.urlencode(form), {"Content-Type": "application/x-www-form-urlencoded"})
    return (r := web.getresponse()).getheader("Location", ""), r.read().decode()
back = post("/authorize", response_type="code", state="s", scope="mail", code_challenge_method="S256", user="user1",
            password="pass1", action="allow", code_challenge="RY58Zf29F6I6Keibp9Sfq05wSIhYFeOgsRJSJ0nTRL8", **to)[0]
grant = dict(to, grant_type="authorization_code", code=up.parse_qs(up.urlsplit(back).query)["code"][0])
if '"invalid_grant"' not in post("/token", code_verifier="x" * 54, **grant)[1]:
    print("a wrong verifier was not invalid_grant")
token = json.loads(post("/token", code_verifier="Tavrino-verifier-0123456789-abcdefghijklmnopqrstuvwxyz", **grant)[1])["access_token"]
xoauth2 = base64.b64encode(f"user=user1@tavrino.test\x01auth=Bearer {token}\x01\x01".encode()).decode()
login = lambda p: (p._shortcmd("AUTH XOAUTH2 " + xoauth2),)
took = [pop3_in(login), pop3_in(login, stls=False), (post("/admin/revoke?user=user1@tavrino.test"), pop3_in(login))[1]]
if took != [True, False, False]:
    print("POP3 took the token after STLS, before STLS, revoked: %s" % took)
EOF
    while IFS= read -r l; do fail "--$m: $l"; done <"$OUT/tls"
done
"$S/mailoffice-stop.sh" "$D/tls" >/dev/null || fail "TLS stop: exit status $?"
if pgrep -r R,S,D,T,t -af -- "$D/tls/" >&2; then fail "processes of the TLS office left after stop"; fi
part "TLS and OAuth"

[ "$fails" -eq 0 ] && echo "all passed" || { echo "$fails failed"; exit 1; }
