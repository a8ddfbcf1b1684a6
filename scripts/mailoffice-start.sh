#!/bin/bash
# Starts a private local mail office for the tests and the demo:
# Postfix (SMTP) and Dovecot (POP3), listening on 127.0.0.1 only, with all
# configuration, queues, mailboxes and logs under DIR.
#
# Usage: scripts/mailoffice-start.sh [--tls] DIR [SMTP_PORT POP3_PORT]
#        scripts/mailoffice-start.sh --tls DIR SMTP_PORT POP3_PORT SMTPS_PORT POP3S_PORT
#        scripts/mailoffice-start.sh --oauth[=xoauth2] DIR [SMTP_PORT POP3_PORT [SMTPS_PORT POP3S_PORT]]
#
#   --tls      TLS mode (see below). Without it: plain text, no TLS at all.
#   --oauth    TLS mode plus OAuth 2.0 sign-in (see below); --oauth=xoauth2
#              offers the SASL mechanism XOAUTH2 only, not OAUTHBEARER.
#   DIR        working folder, created if missing. Keep the path short
#              (e.g. from `mktemp -d /tmp/tavmo.XXXX`): Dovecot's socket
#              paths under it must fit in 108 bytes.
#   SMTP_PORT, POP3_PORT (and with --tls SMTPS_PORT, POP3S_PORT)
#              loopback ports to listen on. Ports not given are those of an
#              earlier run in DIR when still free, else free ports are picked.
#
# Afterwards:
#   DIR/ports.env   SMTP_PORT=… POP3_PORT=… MAIL_DOMAIN=… MAIL_HOST=… TLS=0|1
#                   and with --tls also SMTPS_PORT=… POP3S_PORT=…
#                   CA_FILE=DIR/tls/ca.pem TLS_DIR=DIR/tls
#                   (shell syntax, for `. DIR/ports.env`)
#   DIR/users.txt   one "login password address" line per mailbox, 50 in
#                   all: "user1 pass1 user1@tavrino.test" .. "user50 pass50
#                   user50@tavrino.test"
#   DIR/log/        postfix.log, dovecot.log (and with --tls openssl.log)
#
# Mailboxes user1..user50 @ tavrino.test, passwords pass1..pass50. POP3
# accepts the login "user1" as well as "user1@tavrino.test". Mail for other
# domains is refused. Without --tls: plain-text login, no TLS.
#
# With --tls the same mailboxes, but:
#   SMTP_PORT    offers STARTTLS; AUTH PLAIN/LOGIN only after it, and no mail
#                is accepted without AUTH (same logins and passwords as POP3)
#   SMTPS_PORT   SMTP inside TLS from the first byte, AUTH required as well
#   POP3_PORT    offers STLS; no login before it
#   POP3S_PORT   POP3 inside TLS from the first byte
# and DIR/tls/ holds, made with openssl (and kept while valid):
#   ca.pem ca.key              the office's own authority (CA_FILE)
#   server.pem server.key      CN=localhost, DNS:localhost, IP:127.0.0.1,
#                              signed by ca.pem; what both daemons present
#   otherca.pem otherca.key    a second, unrelated authority
#   rogue.pem rogue.key        localhost/127.0.0.1, but signed by otherca.pem
#   otherhost.pem otherhost.key  signed by ca.pem, but for
#                              DNS:mail.example.invalid only
# The last two exist for tests of clients that must refuse them.
#
# With --oauth everything of --tls (passwords still work where they do
# there), plus an authorization server, scripts/oauth-server.py, on plain
# HTTP at 127.0.0.1:OAUTH_PORT (its endpoints are described in that file;
# pid in DIR/oauth.pid, log in DIR/log/oauth.log). POP3 after STLS and SMTP
# after STARTTLS offer AUTH XOAUTH2 and OAUTHBEARER as well; Dovecot asks
# the server at every such login whether the token is active and whose it is
# (its username is the address, user1@tavrino.test). ports.env adds OAUTH=1
# OAUTH_PORT OAUTH_URL OAUTH_AUTHORIZE_URL OAUTH_TOKEN_URL OAUTH_CLIENT_ID
# OAUTH_SCOPES OAUTH_MECHANISMS (the OAuth mechanisms offered); OAUTH=0 in
# the other modes. OAUTH_ACCESS_LIFETIME in the environment sets the
# lifetime of access tokens in seconds (300 without it).
#
# Needs root (Postfix's master runs as root). Creates the system user
# "tavmail" (owner of the mailboxes) when it does not exist yet.
# If DIR already holds a running office in the same mode, says so and
# succeeds; one in another mode is stopped and started again.
# Stop with scripts/mailoffice-stop.sh DIR.
set -eu
unset MAIL_CONFIG

DOMAIN=tavrino.test
NUSERS=50
MAILUSER=tavmail
START_TIMEOUT=30

die() { echo "mailoffice-start: $*" >&2; exit 1; }
say() { echo "mailoffice-start: $*"; }
# shellcheck source=scripts/mailoffice-lib.sh
. "$(dirname "$0")/mailoffice-lib.sh"

TLS=0
OAUTH=0
OAUTH_MECHS=
case "${1:-}" in
--tls) TLS=1 ;;
--oauth) TLS=1 OAUTH=1 OAUTH_MECHS="OAUTHBEARER XOAUTH2" ;;
--oauth=xoauth2) TLS=1 OAUTH=1 OAUTH_MECHS=XOAUTH2 ;;
esac
[ $TLS -eq 0 ] || shift
[ $# -eq 1 ] || [ $# -eq 3 ] || { [ $TLS -eq 1 ] && [ $# -eq 5 ]; } ||
    die "usage: $0 [--tls | --oauth[=xoauth2]] DIR [SMTP_PORT POP3_PORT]" \
        "(with --tls or --oauth optionally also SMTPS_PORT POP3S_PORT)"
[ "$(id -u)" -eq 0 ] || die "must run as root (Postfix's master needs it)"
for prog in /usr/sbin/postfix /usr/sbin/dovecot /usr/sbin/postconf; do
    [ -x "$prog" ] || die "$prog missing; run scripts/install-deps.sh"
done
if [ $TLS -eq 1 ]; then
    command -v openssl >/dev/null || die "openssl missing; run scripts/install-deps.sh"
fi
if [ $OAUTH -eq 1 ]; then
    for prog in python3 setpriv setsid; do
        command -v $prog >/dev/null || die "$prog missing; run scripts/install-deps.sh"
    done
fi

mkdir -p "$1"
DIR=$(cd "$1" && pwd -P)
case "$DIR" in
*[!A-Za-z0-9._/+-]*) die "DIR may hold only letters, digits and . _ - / + : $DIR" ;;
esac
# Longest Dovecot socket: $DIR/dovecot/run/login/ + name (~25 bytes).
[ ${#DIR} -le 60 ] || die "DIR path too long for Dovecot sockets (max 60 bytes): $DIR"
# The postfix, dovecot and tavmail users must be able to pass through to DIR
# (not so under /root, for example).
up=$DIR
while [ "$up" != / ]; do
    up=$(dirname "$up")
    case "$(stat -c %A "$up")" in
    *x | *t) ;;
    *) die "other users cannot enter $up, so the daemons cannot reach $DIR; use e.g. /tmp" ;;
    esac
done

PFCONF=$DIR/postfix
PFQUEUE=$DIR/spool
PFDATA=$DIR/pfdata
DVDIR=$DIR/dovecot
DVRUN=$DVDIR/run
MAILDIR=$DIR/mail
LOGDIR=$DIR/log
TLSDIR=$DIR/tls
OAUTHPID=$DIR/oauth.pid

PY=$(command -v /usr/bin/python3 || command -v python3 || true)

# --- helpers ----------------------------------------------------------------

# Prints $1 distinct free loopback ports.
pick_ports() {
    [ -n "$PY" ] || die "python3 needed to pick free ports; give all the ports"
    "$PY" - "$1" <<'EOF'
import socket, sys
socks = []
for _ in range(int(sys.argv[1])):
    s = socket.socket()
    s.bind(("127.0.0.1", 0))
    socks.append(s)
print(" ".join(str(s.getsockname()[1]) for s in socks))
EOF
}

# Succeeds when 127.0.0.1:$1 greets with a line starting with $2.
greets() (
    line=
    exec 3<>"/dev/tcp/127.0.0.1/$1" || exit 1
    IFS= read -r -t 2 line <&3 || true
    printf 'QUIT\r\n' >&3 || true
    case "$line" in "$2"*) exit 0 ;; esac
    exit 1
)

# Like greets, for a port that speaks TLS from the first byte: the greeting
# must come through a handshake that verifies server.pem for "localhost".
# Without python3, a port that accepts a connection will do.
tls_greets() {
    if [ -z "$PY" ]; then
        if port_free "$1"; then return 1; fi
        return 0
    fi
    "$PY" - "$1" "$2" "$TLSDIR/ca.pem" <<'EOF'
import socket, ssl, sys
port, want, ca = int(sys.argv[1]), sys.argv[2].encode(), sys.argv[3]
ctx = ssl.create_default_context(cafile=ca)
with socket.create_connection(("127.0.0.1", port), timeout=2) as raw:
    with ctx.wrap_socket(raw, server_hostname="localhost") as s:
        s.settimeout(2)
        line = s.makefile("rb").readline()
        s.sendall(b"QUIT\r\n")
sys.exit(0 if line.startswith(want) else 1)
EOF
}

# Succeeds when the authorization server on 127.0.0.1:$1 answers.
http_answers() (
    line=
    exec 3<>"/dev/tcp/127.0.0.1/$1" || exit 1
    printf 'GET /admin/stats HTTP/1.0\r\nHost: 127.0.0.1\r\n\r\n' >&3
    IFS= read -r -t 2 line <&3 || true
    while IFS= read -r -t 2 _ <&3; do :; done
    case "$line" in "HTTP/1."*" 200 "*) exit 0 ;; esac
    exit 1
)

show_logs() {
    echo "----- postfix check -----" >&2
    /usr/sbin/postfix -c "$PFCONF" check >&2 2>&1 || true
    for f in "$LOGDIR/postfix.log" "$LOGDIR/dovecot.log" "$LOGDIR/oauth.log"; do
        if [ -f "$f" ]; then
            echo "----- $f (tail) -----" >&2
            tail -n 30 "$f" >&2
        fi
    done
}

# Value of key $1 in an earlier run's ports.env, or nothing.
old_env() { sed -n "s/^$1=//p" "$DIR/ports.env" 2>/dev/null || true; }

# Succeeds when no two of the non-empty arguments are equal.
distinct() { [ -z "$(printf '%s\n' "$@" | sed '/^$/d' | sort | uniq -d)" ]; }

# Checks a port given on the command line.
check_port() {
    case "$1" in '' | *[!0-9]*) die "bad port: $1" ;; esac
    if [ "$1" -lt 1024 ] || [ "$1" -gt 65535 ]; then
        die "port must be 1024..65535: $1"
    fi
    port_free "$1" || die "port $1 on 127.0.0.1 is already in use"
}

# Files a TLS office needs under $TLSDIR, all with a key of their own.
TLS_NAMES="ca server otherca rogue otherhost"

# Succeeds when $TLSDIR holds every certificate and key, each key matching
# its certificate, each certificate valid for two more days at least (no
# test or demo should see one expire) and signed by the right authority.
tls_files_ok() {
    local n cert key
    for n in $TLS_NAMES; do
        cert=$TLSDIR/$n.pem key=$TLSDIR/$n.key
        [ -s "$cert" ] && [ -s "$key" ] || return 1
        openssl x509 -in "$cert" -noout -checkend 172800 >/dev/null 2>&1 || return 1
        [ "$(openssl x509 -in "$cert" -noout -pubkey 2>/dev/null)" = \
            "$(openssl pkey -in "$key" -pubout 2>/dev/null)" ] || return 1
    done
    openssl verify -CAfile "$TLSDIR/ca.pem" "$TLSDIR/server.pem" "$TLSDIR/otherhost.pem" \
        >/dev/null 2>&1 &&
        openssl verify -CAfile "$TLSDIR/otherca.pem" "$TLSDIR/rogue.pem" >/dev/null 2>&1
}

# Makes all certificates and keys anew in $TLSDIR.new, then puts that folder
# in place of $TLSDIR. RSA 2048, 90 days.
make_tls_files() {
    local t=$TLSDIR.new log=$LOGDIR/openssl.log
    rm -rf "$t"
    mkdir -p "$t"
    chmod 700 "$t"
    cat >"$t/openssl.cnf" <<'EOF'
# Certificate profiles of the Tavrino mail office (generated).
[req]
distinguished_name = dn
prompt = no
[dn]
CN = Tavrino mail office
[ca]
basicConstraints = critical, CA:TRUE
keyUsage = critical, keyCertSign, cRLSign
subjectKeyIdentifier = hash
[server]
basicConstraints = critical, CA:FALSE
keyUsage = critical, digitalSignature, keyEncipherment
extendedKeyUsage = serverAuth
subjectKeyIdentifier = hash
authorityKeyIdentifier = keyid
subjectAltName = DNS:localhost, IP:127.0.0.1
[otherhost]
basicConstraints = critical, CA:FALSE
keyUsage = critical, digitalSignature, keyEncipherment
extendedKeyUsage = serverAuth
subjectKeyIdentifier = hash
authorityKeyIdentifier = keyid
subjectAltName = DNS:mail.example.invalid
EOF
    # name, profile, subject, signing authority ("-": signed by itself)
    : >"$log"
    while IFS='|' read -r n prof subj ca; do
        set -- -x509 -new -newkey rsa:2048 -nodes -days 90 -config "$t/openssl.cnf" \
            -extensions "$prof" -subj "$subj" -keyout "$t/$n.key" -out "$t/$n.pem"
        [ "$ca" = - ] || set -- "$@" -CA "$t/$ca.pem" -CAkey "$t/$ca.key"
        if ! openssl req "$@" >>"$log" 2>&1; then
            tail -n 20 "$log" >&2
            die "openssl could not make $n.pem (see $log)"
        fi
    done <<'EOF'
ca|ca|/O=Tavrino/CN=Tavrino mail office CA|-
server|server|/O=Tavrino/CN=localhost|ca
otherca|ca|/O=Tavrino/CN=Tavrino other CA (not trusted)|-
rogue|server|/O=Tavrino/CN=localhost|otherca
otherhost|otherhost|/O=Tavrino/CN=mail.example.invalid|ca
EOF
    # Both daemons read server.key as root before they drop privileges.
    # rogue.key and otherhost.key guard nothing: readable by all, so that a
    # test may serve them from an unprivileged process.
    chmod 600 "$t"/*.key
    chmod 644 "$t"/*.pem "$t/rogue.key" "$t/otherhost.key" "$t/openssl.cnf"
    chmod 755 "$t"
    rm -rf "$TLSDIR"
    mv "$t" "$TLSDIR"
}

# --- already running? ---------------------------------------------------------

# The mode in words, from TLS, OAUTH and the OAuth mechanisms.
mode_words() {
    if [ "$2" = 1 ]; then
        echo "with OAuth ($3)"
    elif [ "$1" = 1 ]; then
        echo "with TLS"
    else
        echo "without TLS"
    fi
}
MODE=$(mode_words $TLS $OAUTH "$OAUTH_MECHS")

if pfpid=$(postfix_pid) && dvpid=$(dovecot_pid); then
    running=$(mode_words "$(old_env TLS)" "$(old_env OAUTH)" "$(old_env OAUTH_MECHANISMS | tr -d '"')")
    oapid=
    if [ "$running" = "$MODE" ] && { [ $OAUTH -eq 0 ] || oapid=$(oauth_pid); }; then
        say "mail office in $DIR is already running (postfix $pfpid, dovecot $dvpid${oapid:+, authorization server $oapid})"
        [ -f "$DIR/ports.env" ] && cat "$DIR/ports.env"
        exit 0
    fi
    if [ "$running" = "$MODE" ]; then
        say "mail office in $DIR is running without its authorization server; starting it again"
    else
        say "mail office in $DIR is running $running; starting it again $MODE"
    fi
    "$(dirname "$0")/mailoffice-stop.sh" "$DIR" >/dev/null
fi
# Half running, or leftovers: clear up first.
if [ -e "$PFQUEUE/pid/master.pid" ] || [ -e "$DVRUN/master.pid" ] || [ -e "$OAUTHPID" ]; then
    "$(dirname "$0")/mailoffice-stop.sh" "$DIR" >/dev/null
fi

# --- ports ------------------------------------------------------------------------

SMTP_PORT=''
POP3_PORT=''
SMTPS_PORT=''
POP3S_PORT=''
if [ $# -ge 3 ]; then
    SMTP_PORT=$2
    POP3_PORT=$3
    check_port "$SMTP_PORT"
    check_port "$POP3_PORT"
    [ "$SMTP_PORT" != "$POP3_PORT" ] || die "SMTP_PORT and POP3_PORT must differ"
fi
if [ $# -eq 5 ]; then
    SMTPS_PORT=$4
    POP3S_PORT=$5
    check_port "$SMTPS_PORT"
    check_port "$POP3S_PORT"
    distinct "$SMTP_PORT" "$POP3_PORT" "$SMTPS_PORT" "$POP3S_PORT" || die "the four ports must differ"
fi
if [ -z "$SMTP_PORT" ]; then
    old_smtp=$(old_env SMTP_PORT)
    old_pop3=$(old_env POP3_PORT)
    if [ -n "$old_smtp" ] && [ -n "$old_pop3" ] &&
        port_free "$old_smtp" && port_free "$old_pop3"; then
        SMTP_PORT=$old_smtp POP3_PORT=$old_pop3
    fi
fi
if [ $TLS -eq 1 ] && [ -z "$SMTPS_PORT" ]; then
    old_smtps=$(old_env SMTPS_PORT)
    old_pop3s=$(old_env POP3S_PORT)
    if [ -n "$old_smtps" ] && [ -n "$old_pop3s" ] &&
        distinct "$SMTP_PORT" "$POP3_PORT" "$old_smtps" "$old_pop3s" &&
        port_free "$old_smtps" && port_free "$old_pop3s"; then
        SMTPS_PORT=$old_smtps POP3S_PORT=$old_pop3s
    fi
fi
if [ $TLS -eq 0 ]; then
    if [ -z "$SMTP_PORT" ]; then
        read -r SMTP_PORT POP3_PORT <<<"$(pick_ports 2)"
    fi
elif [ -z "$SMTP_PORT" ] || [ -z "$SMTPS_PORT" ]; then
    # Four free ports, of which those not taken yet fill the gaps.
    for p in $(pick_ports 4); do
        case " $SMTP_PORT $POP3_PORT $SMTPS_PORT $POP3S_PORT " in *" $p "*) continue ;; esac
        if [ -z "$SMTP_PORT" ]; then SMTP_PORT=$p
        elif [ -z "$POP3_PORT" ]; then POP3_PORT=$p
        elif [ -z "$SMTPS_PORT" ]; then SMTPS_PORT=$p
        elif [ -z "$POP3S_PORT" ]; then POP3S_PORT=$p
        fi
    done
fi
OAUTH_PORT=''
if [ $OAUTH -eq 1 ]; then
    OAUTH_PORT=$(old_env OAUTH_PORT)
    if [ -z "$OAUTH_PORT" ] || ! port_free "$OAUTH_PORT" ||
        ! distinct "$SMTP_PORT" "$POP3_PORT" "$SMTPS_PORT" "$POP3S_PORT" "$OAUTH_PORT"; then
        OAUTH_PORT=''
        for p in $(pick_ports 5); do
            case " $SMTP_PORT $POP3_PORT $SMTPS_PORT $POP3S_PORT " in *" $p "*) continue ;; esac
            OAUTH_PORT=$p
            break
        done
    fi
fi

# --- mailbox owner ---------------------------------------------------------------

if ! getent passwd "$MAILUSER" >/dev/null; then
    useradd --system --user-group --no-create-home --home-dir /nonexistent \
        --shell /usr/sbin/nologin --comment "Tavrino test mailboxes" "$MAILUSER" 2>/dev/null ||
        getent passwd "$MAILUSER" >/dev/null || die "cannot create system user $MAILUSER"
fi
MUID=$(id -u "$MAILUSER")
MGID=$(id -g "$MAILUSER")

# --- folders ----------------------------------------------------------------------

chmod 755 "$DIR"
# Dovecot's run-time folder starts empty: a stale socket there can make its
# auth process wait 5 s for a peer that never comes.
rm -rf "$DVRUN"
mkdir -p "$PFCONF" "$PFQUEUE" "$PFDATA" "$DVDIR" "$DVRUN" "$DVDIR/state" "$LOGDIR" "$MAILDIR/$DOMAIN"
chown root:root "$PFCONF" "$PFQUEUE" "$DVDIR" "$LOGDIR"
chmod 755 "$PFCONF" "$PFQUEUE" "$DVDIR" "$LOGDIR" "$MAILDIR"
chown postfix:root "$PFDATA"
chmod 700 "$PFDATA"
chown "$MUID:$MGID" "$MAILDIR/$DOMAIN"
chmod 700 "$MAILDIR/$DOMAIN"
touch "$LOGDIR/postfix.log" "$LOGDIR/dovecot.log"
if [ $TLS -eq 1 ] && ! tls_files_ok; then
    make_tls_files
fi

: >"$DIR/users.txt.new"
: >"$PFCONF/vmailbox.new"
: >"$DVDIR/users.new"
for i in $(seq 1 $NUSERS); do
    u=user$i pw=pass$i
    mkdir -p "$MAILDIR/$DOMAIN/$u/new" "$MAILDIR/$DOMAIN/$u/cur" "$MAILDIR/$DOMAIN/$u/tmp"
    echo "$u $pw $u@$DOMAIN" >>"$DIR/users.txt.new"
    echo "$u@$DOMAIN $DOMAIN/$u/" >>"$PFCONF/vmailbox.new"
    echo "$u@$DOMAIN:{PLAIN}$pw:$MUID:$MGID::$MAILDIR/$DOMAIN/$u::" >>"$DVDIR/users.new"
done
chown -R "$MUID:$MGID" "$MAILDIR/$DOMAIN"
chmod -R go-rwx "$MAILDIR/$DOMAIN"
mv -f "$DIR/users.txt.new" "$DIR/users.txt"
mv -f "$PFCONF/vmailbox.new" "$PFCONF/vmailbox"
chown root:dovecot "$DVDIR/users.new"
chmod 640 "$DVDIR/users.new"
mv -f "$DVDIR/users.new" "$DVDIR/users"

# --- Postfix ----------------------------------------------------------------------

cat >"$PFCONF/main.cf" <<EOF
# Private Postfix instance of the Tavrino mail office (generated).
compatibility_level = 3.6
config_directory = $PFCONF
queue_directory = $PFQUEUE
data_directory = $PFDATA
meta_directory = /etc/postfix
maillog_file = $LOGDIR/postfix.log
maillog_file_prefixes = $LOGDIR
syslog_name = tavmo-postfix

myhostname = mail.$DOMAIN
mydomain = $DOMAIN
myorigin = $DOMAIN
mydestination =
inet_interfaces = 127.0.0.1
inet_protocols = ipv4
mynetworks = 127.0.0.0/8
relayhost =
smtpd_banner = \$myhostname ESMTP Tavrino mail office
biff = no
append_dot_mydomain = no
readme_directory = no

EOF
if [ $TLS -eq 0 ]; then
    cat >>"$PFCONF/main.cf" <<EOF
# No TLS anywhere.
smtpd_tls_security_level = none
smtp_tls_security_level = none

# Closed: only the one virtual domain, nothing is relayed.
smtpd_relay_restrictions = reject_unauth_destination
smtpd_recipient_restrictions =
EOF
else
    cat >>"$PFCONF/main.cf" <<EOF
# STARTTLS offered; AUTH (checked by Dovecot, same logins as POP3) only
# inside TLS. The log tells which connections used TLS and how.
smtpd_tls_security_level = may
smtpd_tls_chain_files = $TLSDIR/server.key, $TLSDIR/server.pem
smtpd_tls_auth_only = yes
smtpd_tls_loglevel = 1
smtpd_sasl_auth_enable = yes
smtpd_sasl_type = dovecot
smtpd_sasl_path = $DVRUN/auth-postfix
smtp_tls_security_level = none

# Closed: nothing without AUTH, not even mail for the office's own
# mailboxes, and with AUTH only the one virtual domain.
smtpd_relay_restrictions = permit_sasl_authenticated, reject
smtpd_recipient_restrictions = reject_unauth_destination
EOF
fi
cat >>"$PFCONF/main.cf" <<EOF
default_transport = error:mail for other domains is not accepted here
relay_transport = error:mail for other domains is not accepted here
local_transport = error:local delivery is disabled
alias_maps =
alias_database =
local_recipient_maps =
notify_classes =

virtual_mailbox_domains = $DOMAIN
virtual_mailbox_maps = texthash:$PFCONF/vmailbox
virtual_mailbox_base = $MAILDIR
virtual_minimum_uid = $MUID
virtual_uid_maps = static:$MUID
virtual_gid_maps = static:$MGID
virtual_transport = virtual
# Room for a 60 MB message (the defaults stop near 10 MB and 51 MB).
message_size_limit = 104857600
virtual_mailbox_limit = 104857600

# Add Message-Id and Date to mail from loopback that lacks them.
always_add_missing_headers = yes
local_header_rewrite_clients = permit_mynetworks, permit_inet_interfaces

# Deliver at once.
in_flow_delay = 0
queue_run_delay = 10s
minimal_backoff_time = 10s
maximal_backoff_time = 60s
EOF

# Each service gets "-o queue_directory=..." (the value it has anyway) so
# that its command line names DIR, like Dovecot's: `pgrep -af DIR` finds all.
O="-o queue_directory=$PFQUEUE"
cat >"$PFCONF/master.cf" <<EOF
# Private Postfix instance of the Tavrino mail office (generated).
# service type  private unpriv  chroot  wakeup  maxproc command + args
127.0.0.1:$SMTP_PORT inet n    -       n       -       -       smtpd $O
EOF
if [ $TLS -eq 1 ]; then
    cat >>"$PFCONF/master.cf" <<EOF
127.0.0.1:$SMTPS_PORT inet n   -       n       -       -       smtpd $O
  -o smtpd_tls_wrappermode=yes -o smtpd_tls_security_level=encrypt
tlsmgr    unix  -       -       n       1000?   1       tlsmgr $O
EOF
fi
cat >>"$PFCONF/master.cf" <<EOF
pickup    unix  n       -       n       60      1       pickup $O
cleanup   unix  n       -       n       -       0       cleanup $O
qmgr      unix  n       -       n       300     1       qmgr $O
rewrite   unix  -       -       n       -       -       trivial-rewrite $O
bounce    unix  -       -       n       -       0       bounce $O
defer     unix  -       -       n       -       0       bounce $O
trace     unix  -       -       n       -       0       bounce $O
verify    unix  -       -       n       -       1       verify $O
flush     unix  n       -       n       1000?   0       flush $O
proxymap  unix  -       -       n       -       -       proxymap $O
proxywrite unix -       -       n       -       1       proxymap $O
showq     unix  n       -       n       -       -       showq $O
error     unix  -       -       n       -       -       error $O
retry     unix  -       -       n       -       -       error $O
discard   unix  -       -       n       -       -       discard $O
virtual   unix  -       n       n       -       -       virtual $O
anvil     unix  -       -       n       -       1       anvil $O
scache    unix  -       -       n       -       1       scache $O
postlog   unix-dgram n  -       n       -       1       postlogd $O
EOF
chmod 644 "$PFCONF/main.cf" "$PFCONF/master.cf" "$PFCONF/vmailbox"
# Postfix waits ~2 s when its configuration looks freshly edited.
touch -d '-10 seconds' "$PFCONF/main.cf" "$PFCONF/master.cf" "$PFCONF/vmailbox"

# --- Dovecot ----------------------------------------------------------------------

if [ $TLS -eq 0 ]; then
    dv_ssl="ssl = no
disable_plaintext_auth = no"
    dv_pop3s="    port = 0"
    dv_passwd=$DVDIR/users
else
    # Dovecot counts a connection whose two ends have the same address as
    # secure: over loopback, "ssl = required" and "disable_plaintext_auth"
    # alone would let USER/PASS through before STLS. So the password file is
    # looked up under a name made of the service and %{secured}, which is
    # "TLS" only inside TLS, and only these names lead to it: pop3-TLS
    # (after STLS, or on POP3S) and smtp-secured (Postfix, which offers
    # AUTH only inside TLS and then says just "secured"). Any other login
    # finds no file and fails like a wrong password.
    rm -rf "$DVDIR/logins"
    mkdir -p "$DVDIR/logins"
    ln -s ../users "$DVDIR/logins/pop3-TLS"
    ln -s ../users "$DVDIR/logins/smtp-secured"
    dv_passwd="$DVDIR/logins/%s-%{secured}"
    dv_ssl="ssl = required
ssl_cert = <$TLSDIR/server.pem
ssl_key = <$TLSDIR/server.key
disable_plaintext_auth = yes"
    dv_pop3s="    address = 127.0.0.1
    port = $POP3S_PORT
    ssl = yes"
fi
dv_mechs="plain login"
dv_passdb="passdb {
  driver = passwd-file
  args = scheme=PLAIN username_format=%u $dv_passwd
}"
if [ $OAUTH -eq 1 ]; then
    oauth_mechs=${OAUTH_MECHS,,}
    dv_mechs="plain login $oauth_mechs"
    # A token is good when the authorization server calls it active, for the
    # user it names. The second passdb then lets it in only inside TLS, by
    # the same %{secured} names as the passwords: its file, found only under
    # pop3-TLS and smtp-secured, lets every mailbox in without a password.
    rm -rf "$DVDIR/oauth-logins"
    mkdir -p "$DVDIR/oauth-logins"
    ln -s ../oauth-users "$DVDIR/oauth-logins/pop3-TLS"
    ln -s ../oauth-users "$DVDIR/oauth-logins/smtp-secured"
    for i in $(seq 1 $NUSERS); do
        echo "user$i@$DOMAIN:::::::nopassword"
    done >"$DVDIR/oauth-users.new"
    chown root:dovecot "$DVDIR/oauth-users.new"
    chmod 640 "$DVDIR/oauth-users.new"
    mv -f "$DVDIR/oauth-users.new" "$DVDIR/oauth-users"
    cat >"$DVDIR/oauth2.conf.ext" <<EOF
# Token checks of the Tavrino mail office (generated): RFC 7662
# introspection at every login, nothing cached.
introspection_mode = post
introspection_url = http://127.0.0.1:$OAUTH_PORT/introspect
force_introspection = yes
username_attribute = username
active_attribute = active
active_value = true
timeout_msecs = 10000
EOF
    chmod 644 "$DVDIR/oauth2.conf.ext"
    dv_passdb="passdb {
  driver = oauth2
  mechanisms = $oauth_mechs
  args = $DVDIR/oauth2.conf.ext
  result_success = continue-ok
}
passdb {
  driver = passwd-file
  mechanisms = $oauth_mechs
  args = username_format=%u $DVDIR/oauth-logins/%s-%{secured}
  skip = unauthenticated
  result_failure = return-fail
  result_internalfail = return-fail
}
passdb {
  driver = passwd-file
  mechanisms = plain login
  args = scheme=PLAIN username_format=%u $dv_passwd
}"
fi
cat >"$DVDIR/dovecot.conf" <<EOF
# Private Dovecot instance of the Tavrino mail office (generated).
instance_name = $DIR
base_dir = $DVRUN
state_dir = $DVDIR/state
log_path = $LOGDIR/dovecot.log
protocols = pop3
listen = 127.0.0.1
$dv_ssl
auth_mechanisms = $dv_mechs
auth_default_realm = $DOMAIN
auth_verbose = yes
default_login_user = dovenull
default_internal_user = dovecot
first_valid_uid = $MUID
last_valid_uid = $MUID
first_valid_gid = $MGID
last_valid_gid = $MGID
mail_location = maildir:$MAILDIR/%d/%n
shutdown_clients = yes

$dv_passdb
userdb {
  driver = passwd-file
  args = username_format=%u $DVDIR/users
}

service pop3-login {
  inet_listener pop3 {
    address = 127.0.0.1
    port = $POP3_PORT
  }
  inet_listener pop3s {
$dv_pop3s
  }
}
service imap-login {
  inet_listener imap {
    port = 0
  }
  inet_listener imaps {
    port = 0
  }
}
service submission-login {
  inet_listener submission {
    port = 0
  }
}
# No growing per-IP penalty after failed logins: every test logs in from
# 127.0.0.1, and the penalty would delay later logins, good ones too, by
# 2..15 s. A wrong password is still answered after auth_failure_delay (2 s).
# (The auth process then logs one harmless
# "net_connect_unix(anvil-auth-penalty) failed" error.)
service anvil {
  unix_listener anvil-auth-penalty {
    mode = 0
  }
}
service lmtp {
  unix_listener lmtp {
    mode = 0
  }
}
EOF
if [ $TLS -eq 1 ]; then
    cat >>"$DVDIR/dovecot.conf" <<EOF
# Postfix asks here whether an SMTP AUTH login is good.
service auth {
  unix_listener auth-postfix {
    mode = 0660
    user = postfix
    group = postfix
  }
}
EOF
fi
chmod 644 "$DVDIR/dovecot.conf"

# --- ports.env ----------------------------------------------------------------------

cat >"$DIR/ports.env.new" <<EOF
SMTP_PORT=$SMTP_PORT
POP3_PORT=$POP3_PORT
MAIL_DOMAIN=$DOMAIN
MAIL_HOST=127.0.0.1
TLS=$TLS
OAUTH=$OAUTH
EOF
if [ $TLS -eq 1 ]; then
    cat >>"$DIR/ports.env.new" <<EOF
SMTPS_PORT=$SMTPS_PORT
POP3S_PORT=$POP3S_PORT
CA_FILE=$TLSDIR/ca.pem
TLS_DIR=$TLSDIR
EOF
fi
if [ $OAUTH -eq 1 ]; then
    cat >>"$DIR/ports.env.new" <<EOF
OAUTH_PORT=$OAUTH_PORT
OAUTH_URL=http://127.0.0.1:$OAUTH_PORT
OAUTH_AUTHORIZE_URL=http://127.0.0.1:$OAUTH_PORT/authorize
OAUTH_TOKEN_URL=http://127.0.0.1:$OAUTH_PORT/token
OAUTH_CLIENT_ID=tavrino-desk
OAUTH_SCOPES="mail offline_access"
OAUTH_MECHANISMS="$OAUTH_MECHS"
EOF
fi
mv -f "$DIR/ports.env.new" "$DIR/ports.env"

# --- start ------------------------------------------------------------------------

# What `postfix start` does (its checks, which also create the queue
# folders, then "master -w"), but with "-c DIR/postfix" on the master's
# command line so that it too names DIR.
# Both daemons start with a small clean environment, not the caller's.
CLEANENV="env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin LANG=C.UTF-8 MAIL_CONFIG=$PFCONF"
: >"$LOGDIR/start.out"
if [ $OAUTH -eq 1 ]; then
    # First, so that Dovecot finds it at the first login. As nobody, in a
    # session of its own; it reads users.txt and appends to oauth.log. Run
    # from a copy in DIR, which nobody can reach (the checkout may not be).
    touch "$LOGDIR/oauth.log"
    chown nobody:nogroup "$LOGDIR/oauth.log"
    chgrp nogroup "$DIR/users.txt"
    chmod g+r "$DIR/users.txt"
    install -m 644 "$(dirname "$0")/oauth-server.py" "$DIR/oauth-server.py"
    $CLEANENV ${OAUTH_ACCESS_LIFETIME:+"OAUTH_ACCESS_LIFETIME=$OAUTH_ACCESS_LIFETIME"} \
        setsid setpriv --reuid=nobody --regid=nogroup --clear-groups \
        "$PY" "$DIR/oauth-server.py" "--office=$DIR" "--port=$OAUTH_PORT" \
        </dev/null >>"$LOGDIR/oauth.log" 2>&1 &
    echo $! >"$OAUTHPID"
fi
if ! { /usr/sbin/postfix -c "$PFCONF" check &&
    $CLEANENV /usr/lib/postfix/sbin/master -c "$PFCONF" -w; } >>"$LOGDIR/start.out" 2>&1; then
    echo "mailoffice-start: Postfix did not start" >&2
    cat "$LOGDIR/start.out" >&2
    show_logs
    "$(dirname "$0")/mailoffice-stop.sh" "$DIR" >/dev/null 2>&1 || true
    exit 1
fi
if ! $CLEANENV /usr/sbin/dovecot -c "$DVDIR/dovecot.conf" >>"$LOGDIR/start.out" 2>&1; then
    echo "mailoffice-start: Dovecot did not start" >&2
    cat "$LOGDIR/start.out" >&2
    show_logs
    "$(dirname "$0")/mailoffice-stop.sh" "$DIR" >/dev/null 2>&1 || true
    exit 1
fi

# Wait for all ports to greet (bounded).
deadline=$((SECONDS + START_TIMEOUT))
smtp_ok=''   # "ok" once the port has greeted
pop3_ok=
smtps_ok=
pop3s_ok=
oauth_ok=
if [ $TLS -eq 0 ]; then
    smtps_ok=ok pop3s_ok=ok # no such ports
fi
[ $OAUTH -eq 1 ] || oauth_ok=ok
while :; do
    [ -n "$smtp_ok" ] || { greets "$SMTP_PORT" 220 2>/dev/null && smtp_ok=ok; } || true
    [ -n "$pop3_ok" ] || { greets "$POP3_PORT" +OK 2>/dev/null && pop3_ok=ok; } || true
    [ -n "$smtps_ok" ] || { tls_greets "$SMTPS_PORT" 220 2>/dev/null && smtps_ok=ok; } || true
    [ -n "$pop3s_ok" ] || { tls_greets "$POP3S_PORT" +OK 2>/dev/null && pop3s_ok=ok; } || true
    [ -n "$oauth_ok" ] || { http_answers "$OAUTH_PORT" 2>/dev/null && oauth_ok=ok; } || true
    [ -n "$smtp_ok" ] && [ -n "$pop3_ok" ] && [ -n "$smtps_ok" ] && [ -n "$pop3s_ok" ] &&
        [ -n "$oauth_ok" ] && break
    if [ -z "$oauth_ok" ] && ! oauth_pid >/dev/null; then
        echo "mailoffice-start: the authorization server ended" >&2
        show_logs
        "$(dirname "$0")/mailoffice-stop.sh" "$DIR" >/dev/null 2>&1 || true
        exit 1
    fi
    if [ $SECONDS -ge $deadline ]; then
        if [ $TLS -eq 0 ]; then
            echo "mailoffice-start: mail office did not answer within ${START_TIMEOUT}s" \
                "(SMTP 127.0.0.1:$SMTP_PORT ${smtp_ok:-silent}," \
                "POP3 127.0.0.1:$POP3_PORT ${pop3_ok:-silent})" >&2
        else
            echo "mailoffice-start: mail office did not answer within ${START_TIMEOUT}s" \
                "(SMTP 127.0.0.1:$SMTP_PORT ${smtp_ok:-silent}," \
                "POP3 127.0.0.1:$POP3_PORT ${pop3_ok:-silent}," \
                "SMTPS 127.0.0.1:$SMTPS_PORT ${smtps_ok:-silent}," \
                "POP3S 127.0.0.1:$POP3S_PORT ${pop3s_ok:-silent}${OAUTH_PORT:+,}" \
                "${OAUTH_PORT:+authorization server 127.0.0.1:$OAUTH_PORT ${oauth_ok:-silent}})" >&2
        fi
        show_logs
        "$(dirname "$0")/mailoffice-stop.sh" "$DIR" >/dev/null 2>&1 || true
        exit 1
    fi
    sleep 0.1
done

if [ $OAUTH -eq 1 ]; then
    say "mail office running in $DIR with TLS and OAuth ($OAUTH_MECHS):" \
        "SMTP 127.0.0.1:$SMTP_PORT (STARTTLS), SMTPS 127.0.0.1:$SMTPS_PORT," \
        "POP3 127.0.0.1:$POP3_PORT (STLS), POP3S 127.0.0.1:$POP3S_PORT," \
        "authorization server http://127.0.0.1:$OAUTH_PORT, authority $TLSDIR/ca.pem," \
        "domain $DOMAIN, users user1..user$NUSERS (passwords pass1..pass$NUSERS)"
elif [ $TLS -eq 0 ]; then
    say "mail office running in $DIR: SMTP 127.0.0.1:$SMTP_PORT, POP3 127.0.0.1:$POP3_PORT," \
        "domain $DOMAIN, users user1..user$NUSERS (passwords pass1..pass$NUSERS)"
else
    say "mail office running in $DIR with TLS: SMTP 127.0.0.1:$SMTP_PORT (STARTTLS)," \
        "SMTPS 127.0.0.1:$SMTPS_PORT, POP3 127.0.0.1:$POP3_PORT (STLS)," \
        "POP3S 127.0.0.1:$POP3S_PORT, authority $TLSDIR/ca.pem," \
        "domain $DOMAIN, users user1..user$NUSERS (passwords pass1..pass$NUSERS)"
fi
