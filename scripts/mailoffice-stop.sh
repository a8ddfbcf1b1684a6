#!/bin/bash
# Stops the private mail office that scripts/mailoffice-start.sh started in
# DIR, and waits until its processes are gone. Leaves DIR, the mailboxes and
# the logs in place.
#
# Usage: scripts/mailoffice-stop.sh DIR
#
# Only that office's processes are signalled: the Postfix and Dovecot masters
# named in DIR's pid files (each ends its own children), the authorization
# server of --oauth (DIR/oauth.pid), and afterwards any
# stray process whose command line or environment names DIR's Postfix or
# Dovecot set-up:
#   master -c DIR/postfix ...            (Postfix master)
#   ... -o queue_directory=DIR/spool     (Postfix services)
#   MAIL_CONFIG=DIR/postfix              (Postfix services, environment)
#   dovecot -c DIR/dovecot/dovecot.conf  (Dovecot master)
#   dovecot-DIR/...                      (Dovecot services)
#   oauth-server.py --office=DIR ...     (authorization server)
set -eu
unset MAIL_CONFIG

STOP_TIMEOUT=10

die() { echo "mailoffice-stop: $*" >&2; exit 1; }
say() { echo "mailoffice-stop: $*"; }
# shellcheck source=scripts/mailoffice-lib.sh
. "$(dirname "$0")/mailoffice-lib.sh"

[ $# -eq 1 ] || die "usage: $0 DIR"
if [ ! -d "$1" ]; then
    say "no mail office in $1 (no such folder)"
    exit 0
fi
DIR=$(cd "$1" && pwd -P)
PFCONF=$DIR/postfix
PFQUEUE=$DIR/spool
DVDIR=$DIR/dovecot
DVRUN=$DVDIR/run
OAUTHPID=$DIR/oauth.pid

# Pids of all living processes of this office. (Patterns go in on stdin, so
# that grep's own command line does not match.)
office_procs() {
    local re
    re=$(printf '%s' "$DIR" | sed 's/[][\.*^$+?(){}|]/\\&/g')
    # shellcheck disable=SC2062 # the globs name files, not patterns
    {
        printf '%s\n' "$PFCONF" "queue_directory=$PFQUEUE" "$DVDIR/dovecot.conf" "--office=$DIR" |
            grep -lzxF -f - /proc/[0-9]*/cmdline
        printf '%s\n' "dovecot-$re/.*" | grep -lzxE -f - /proc/[0-9]*/cmdline
        printf '%s\n' "MAIL_CONFIG=$PFCONF" | grep -lzxF -f - /proc/[0-9]*/environ
    } 2>/dev/null | sed -n 's|^/proc/\([0-9]*\)/.*|\1|p' | sort -un |
        while read -r p; do
            [ "$p" != "$$" ] && pid_alive "$p" && echo "$p"
        done
    return 0
}

# Still-living pids among the arguments.
alive_of() {
    local p
    for p in "$@"; do
        pid_alive "$p" && echo "$p"
    done
    return 0
}

# Waits until none of the given pids lives; afterwards $left holds survivors.
wait_gone() {
    local deadline=$((SECONDS + STOP_TIMEOUT))
    left=$(alive_of "$@")
    while [ -n "$left" ] && [ $SECONDS -lt $deadline ]; do
        sleep 0.05
        # shellcheck disable=SC2086
        left=$(alive_of $left)
    done
}

pfpid=$(postfix_pid) || pfpid=
dvpid=$(dovecot_pid) || dvpid=
oapid=$(oauth_pid) || oapid=
procs=$(office_procs)

if [ -z "$pfpid$dvpid$oapid$procs" ]; then
    rm -f "$OAUTHPID"
    say "no mail office running in $DIR"
    exit 0
fi

# SIGTERM to each master, as `postfix stop` and `doveadm stop` do; each ends
# its children. (Dovecot's master always lingers about one second.)
for pid in $pfpid $dvpid $oapid; do
    kill -TERM "$pid" 2>/dev/null || true
done
# shellcheck disable=SC2086
wait_gone $pfpid $dvpid $oapid $procs

# Whatever is left, or was running without its master.
strays=$(office_procs)
if [ -n "$strays" ]; then
    # shellcheck disable=SC2086
    kill -TERM $strays 2>/dev/null || true
    # shellcheck disable=SC2086
    wait_gone $strays
    if [ -n "$left" ]; then
        say "killing processes that ignored SIGTERM:" "$left" >&2
        # shellcheck disable=SC2086
        kill -KILL $left 2>/dev/null || true
        # shellcheck disable=SC2086
        wait_gone $left
    fi
fi
left=$(office_procs)
[ -z "$left" ] || die "could not stop processes:" "$left"
rm -f "$OAUTHPID"

say "stopped mail office in $DIR${pfpid:+ (postfix $pfpid)}${dvpid:+ (dovecot $dvpid)}${oapid:+ (authorization server $oapid)}"
