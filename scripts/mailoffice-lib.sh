# shellcheck shell=bash
# Shared by mailoffice-start.sh and mailoffice-stop.sh (sourced, not run).

# A process that exists and is no zombie (PID 1 may reap late).
pid_alive() {
    local st
    [ -n "${1:-}" ] || return 1
    { IFS= read -r st <"/proc/$1/stat"; } 2>/dev/null || return 1
    st=${st##*) }
    [ "${st%% *}" != Z ]
}

# Master pid from pid file $1 if that process is running with argument $2.
master_pid() {
    local pid
    pid=$(awk 'NR==1{print $1}' "$1" 2>/dev/null) || return 1
    pid_alive "$pid" || return 1
    printf '%s\n' "$2" | grep -qzxF -f - "/proc/$pid/cmdline" 2>/dev/null || return 1
    echo "$pid"
}

# Pids of the office's Postfix and Dovecot masters, if running. The caller
# sets PFCONF, PFQUEUE, DVDIR and DVRUN for its DIR.
postfix_pid() { master_pid "$PFQUEUE/pid/master.pid" "$PFCONF"; }
dovecot_pid() { master_pid "$DVRUN/master.pid" "$DVDIR/dovecot.conf"; }

# Succeeds when nothing listens on 127.0.0.1:$1.
port_free() {
    ! (exec 3<>"/dev/tcp/127.0.0.1/$1") 2>/dev/null
}

# Pid of the office's authorization server (--oauth), if running. The caller
# sets DIR and OAUTHPID.
oauth_pid() { master_pid "$OAUTHPID" "--office=$DIR"; }
