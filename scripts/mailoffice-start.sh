#!/bin/bash
# Starts a private local mail office for the tests and the demo:
# Postfix (SMTP) and Dovecot (POP3), listening on 127.0.0.1 only, with all
# configuration, queues, mailboxes and logs under DIR.
#
# Usage: scripts/mailoffice-start.sh DIR [SMTP_PORT POP3_PORT]
#
#   DIR        working folder, created if missing. Keep the path short
#              (e.g. from `mktemp -d /tmp/tavmo.XXXX`): Dovecot's socket
#              paths under it must fit in 108 bytes.
#   SMTP_PORT, POP3_PORT
#              loopback ports to listen on. Without them the ports of an
#              earlier run in DIR are reused when still free, else free
#              ports are picked.
#
# Afterwards:
#   DIR/ports.env   SMTP_PORT=… POP3_PORT=… MAIL_DOMAIN=… MAIL_HOST=…
#                   (shell syntax, for `. DIR/ports.env`)
#   DIR/users.txt   one "login password address" line per mailbox, 50 in
#                   all: "user1 pass1 user1@tavrino.test" .. "user50 pass50
#                   user50@tavrino.test"
#   DIR/log/        postfix.log, dovecot.log
#
# Mailboxes user1..user50 @ tavrino.test, passwords pass1..pass50. POP3
# accepts the login "user1" as well as "user1@tavrino.test". Plain-text
# login, no TLS. Mail for other domains is refused.
#
# Needs root (Postfix's master runs as root). Creates the system user
# "tavmail" (owner of the mailboxes) when it does not exist yet.
# If DIR already holds a running office, says so and succeeds.
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

[ $# -eq 1 ] || [ $# -eq 3 ] || die "usage: $0 DIR [SMTP_PORT POP3_PORT]"
[ "$(id -u)" -eq 0 ] || die "must run as root (Postfix's master needs it)"
for prog in /usr/sbin/postfix /usr/sbin/dovecot /usr/sbin/postconf; do
    [ -x "$prog" ] || die "$prog missing; run scripts/install-deps.sh"
done

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

PY=$(command -v /usr/bin/python3 || command -v python3 || true)

# --- helpers ----------------------------------------------------------------

pick_ports() {
    [ -n "$PY" ] || die "python3 needed to pick free ports; give SMTP_PORT POP3_PORT"
    "$PY" - <<'EOF'
import socket
socks = []
for _ in range(2):
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

show_logs() {
    echo "----- postfix check -----" >&2
    /usr/sbin/postfix -c "$PFCONF" check >&2 2>&1 || true
    for f in "$LOGDIR/postfix.log" "$LOGDIR/dovecot.log"; do
        if [ -f "$f" ]; then
            echo "----- $f (tail) -----" >&2
            tail -n 30 "$f" >&2
        fi
    done
}

# --- already running? ---------------------------------------------------------

if pfpid=$(postfix_pid) && dvpid=$(dovecot_pid); then
    say "mail office in $DIR is already running (postfix $pfpid, dovecot $dvpid)"
    [ -f "$DIR/ports.env" ] && cat "$DIR/ports.env"
    exit 0
fi
# Half running, or leftovers: clear up first.
if [ -e "$PFQUEUE/pid/master.pid" ] || [ -e "$DVRUN/master.pid" ]; then
    "$(dirname "$0")/mailoffice-stop.sh" "$DIR" >/dev/null
fi

# --- ports ------------------------------------------------------------------------

if [ $# -eq 3 ]; then
    SMTP_PORT=$2
    POP3_PORT=$3
    for p in "$SMTP_PORT" "$POP3_PORT"; do
        case "$p" in '' | *[!0-9]*) die "bad port: $p" ;; esac
        if [ "$p" -lt 1024 ] || [ "$p" -gt 65535 ]; then
            die "port must be 1024..65535: $p"
        fi
        port_free "$p" || die "port $p on 127.0.0.1 is already in use"
    done
    [ "$SMTP_PORT" != "$POP3_PORT" ] || die "SMTP_PORT and POP3_PORT must differ"
else
    SMTP_PORT=''
    POP3_PORT=''
    if [ -f "$DIR/ports.env" ]; then
        old_smtp=$(sed -n 's/^SMTP_PORT=//p' "$DIR/ports.env")
        old_pop3=$(sed -n 's/^POP3_PORT=//p' "$DIR/ports.env")
        if [ -n "$old_smtp" ] && [ -n "$old_pop3" ] &&
            port_free "$old_smtp" && port_free "$old_pop3"; then
            SMTP_PORT=$old_smtp POP3_PORT=$old_pop3
        fi
    fi
    if [ -z "$SMTP_PORT" ]; then
        read -r SMTP_PORT POP3_PORT <<<"$(pick_ports)"
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

# No TLS anywhere.
smtpd_tls_security_level = none
smtp_tls_security_level = none

# Closed: only the one virtual domain, nothing is relayed.
smtpd_relay_restrictions = reject_unauth_destination
smtpd_recipient_restrictions =
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

cat >"$DVDIR/dovecot.conf" <<EOF
# Private Dovecot instance of the Tavrino mail office (generated).
instance_name = $DIR
base_dir = $DVRUN
state_dir = $DVDIR/state
log_path = $LOGDIR/dovecot.log
protocols = pop3
listen = 127.0.0.1
ssl = no
disable_plaintext_auth = no
auth_mechanisms = plain login
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

passdb {
  driver = passwd-file
  args = scheme=PLAIN username_format=%u $DVDIR/users
}
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
    port = 0
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
chmod 644 "$DVDIR/dovecot.conf"

# --- ports.env ----------------------------------------------------------------------

cat >"$DIR/ports.env.new" <<EOF
SMTP_PORT=$SMTP_PORT
POP3_PORT=$POP3_PORT
MAIL_DOMAIN=$DOMAIN
MAIL_HOST=127.0.0.1
EOF
mv -f "$DIR/ports.env.new" "$DIR/ports.env"

# --- start ------------------------------------------------------------------------

# What `postfix start` does (its checks, which also create the queue
# folders, then "master -w"), but with "-c DIR/postfix" on the master's
# command line so that it too names DIR.
# Both daemons start with a small clean environment, not the caller's.
CLEANENV="env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin LANG=C.UTF-8 MAIL_CONFIG=$PFCONF"
: >"$LOGDIR/start.out"
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

# Wait for both ports to greet (bounded).
deadline=$((SECONDS + START_TIMEOUT))
smtp_ok=''   # "ok" once the port has greeted
pop3_ok=
while :; do
    [ -n "$smtp_ok" ] || { greets "$SMTP_PORT" 220 2>/dev/null && smtp_ok=ok; } || true
    [ -n "$pop3_ok" ] || { greets "$POP3_PORT" +OK 2>/dev/null && pop3_ok=ok; } || true
    [ -n "$smtp_ok" ] && [ -n "$pop3_ok" ] && break
    if [ $SECONDS -ge $deadline ]; then
        echo "mailoffice-start: mail office did not answer within ${START_TIMEOUT}s" \
            "(SMTP 127.0.0.1:$SMTP_PORT ${smtp_ok:-silent}," \
            "POP3 127.0.0.1:$POP3_PORT ${pop3_ok:-silent})" >&2
        show_logs
        "$(dirname "$0")/mailoffice-stop.sh" "$DIR" >/dev/null 2>&1 || true
        exit 1
    fi
    sleep 0.1
done

say "mail office running in $DIR: SMTP 127.0.0.1:$SMTP_PORT, POP3 127.0.0.1:$POP3_PORT," \
    "domain $DOMAIN, users user1..user$NUSERS (passwords pass1..pass$NUSERS)"
