#!/usr/bin/env bash
# A private CUPS server for the print tests: its own configuration, spool,
# logs and Unix socket inside one folder, no network listener, and nothing of
# the machine's own CUPS touched. Its one queue prints through the Generic
# PDF Printer driver of cups-filters into a PDF file in the same folder.
#
#   print-server.sh start DIR [--no-queue]   start (restart) the server;
#                                            --no-queue: a server without any
#                                            queue, so no default printer
#   print-server.sh stop DIR                 stop it by its process id
#   print-server.sh env DIR                  print what clients need
#
# `start` and `env` print CUPS_SERVER=<socket> and KEYLOFT_PRINT_OUTPUT=<pdf>.
# Needs the Debian packages cups-daemon, cups-client and cups-filters.
set -euo pipefail

queue=keyloft-pdf

usage() {
    echo "usage: $0 start DIR [--no-queue] | stop DIR | env DIR" >&2
    exit 2
}

(($# >= 2)) || usage
command=$1
mkdir -p "$2"
dir=$(cd "$2" && pwd)
socket=$dir/cups.sock
output=$dir/out/$queue.pdf
pidfile=$dir/cupsd.pid
log=$dir/log

# A Unix socket path holds at most 107 bytes.
if ((${#socket} > 100)); then
    echo "print-server: folder path too long for a socket: $dir" >&2
    exit 1
fi

# The pid of our cupsd, or nothing when it is not running.
server_pid() {
    [[ -f $pidfile ]] || return 0
    local pid
    pid=$(<"$pidfile")
    if [[ -n $pid && -r /proc/$pid/comm && $(</proc/"$pid"/comm) == cupsd ]]; then
        echo "$pid"
    fi
}

# Whether the process runs (a zombie does not).
alive() {
    local state
    state=$(awk '{ print $3 }' "/proc/$1/stat" 2>/dev/null) || return 1
    [[ -n $state && $state != Z ]]
}

print_env() {
    echo "CUPS_SERVER=$socket"
    echo "KEYLOFT_PRINT_OUTPUT=$output"
}

stop_server() {
    local pid
    pid=$(server_pid)
    if [[ -n $pid ]]; then
        kill "$pid" 2>/dev/null || true
        for _ in $(seq 100); do
            [[ -d /proc/$pid ]] || break
            sleep 0.1
        done
        if [[ -d /proc/$pid ]]; then
            kill -KILL "$pid" 2>/dev/null || true
        fi
    fi
    rm -f "$pidfile" "$socket"
}

start_server() {
    local no_queue=$1
    stop_server
    rm -rf "$dir/conf" "$dir/spool" "$dir/cache" "$dir/state" "$dir/out" "$log"
    mkdir -p "$dir/conf/ppd" "$dir/conf/ssl" "$dir/spool/tmp" "$dir/cache" \
        "$dir/state" "$dir/out" "$log"

    # Filters run as an unprivileged user: lp when we are root, ourselves
    # otherwise (cupsd then cannot change users anyway).
    local user group system_group=
    if ((EUID == 0)); then
        user=lp
        group=lp
        system_group="SystemGroup root"
    else
        user=$(id -un)
        group=$(id -gn)
    fi

    cat >"$dir/conf/cups-files.conf" <<EOF
ServerRoot $dir/conf
StateDir $dir/state
CacheDir $dir/cache
RequestRoot $dir/spool
TempDir $dir/spool/tmp
ServerKeychain $dir/conf/ssl
CreateSelfSignedCerts no
AccessLog $log/access_log
ErrorLog $log/error_log
PageLog $log/page_log
Printcap $dir/state/printcap
FileDevice Yes
User $user
Group $group
$system_group
EOF

    # The socket is the only listener; every local request is allowed.
    cat >"$dir/conf/cupsd.conf" <<EOF
Listen $socket
Browsing No
BrowseLocalProtocols none
DefaultShared No
WebInterface No
LogLevel info
MaxLogSize 0
DefaultAuthType None
<Location />
  Order allow,deny
</Location>
<Policy default>
  <Limit All>
    Order allow,deny
  </Limit>
</Policy>
EOF

    # setsid: the server outlives the caller's session and, with its standard
    # streams on files, does not hold the caller's pipes open.
    setsid cupsd -f -c "$dir/conf/cupsd.conf" -s "$dir/conf/cups-files.conf" \
        </dev/null >"$log/cupsd.out" 2>&1 &
    echo $! >"$pidfile"

    # Until the exec is done the process is still called bash or setsid, so
    # here only its being alive counts.
    local pid=$! ready=
    for _ in $(seq 200); do
        if ! alive "$pid"; then
            break
        fi
        if [[ -S $socket ]] &&
            [[ $(lpstat -h "$socket" -r 2>/dev/null) == "scheduler is running" ]]; then
            ready=1
            break
        fi
        sleep 0.1
    done
    if [[ -z $ready ]]; then
        echo "print-server: cupsd did not start; its logs:" >&2
        kill "$pid" 2>/dev/null && wait "$pid" 2>/dev/null
        cat "$log/cupsd.out" "$log/error_log" >&2 2>/dev/null || true
        rm -f "$pidfile" "$socket"
        exit 1
    fi

    if [[ -z $no_queue ]]; then
        local ppd=/usr/share/ppd/cupsfilters/Generic-PDF_Printer-PDF.ppd
        local model=()
        if [[ -r $ppd ]]; then
            model=(-P "$ppd")
        else
            local name
            name=$(lpinfo -h "$socket" -m 2>/dev/null |
                awk '/Generic PDF Printer/ { print $1; exit }')
            if [[ -z $name ]]; then
                echo "print-server: no Generic PDF Printer driver (cups-filters)" >&2
                stop_server
                exit 1
            fi
            model=(-m "$name")
        fi
        lpadmin -h "$socket" -p "$queue" -E -v "file://$output" "${model[@]}"
        lpadmin -h "$socket" -d "$queue"
    fi
    print_env
}

case $command in
start)
    no_queue=
    if (($# == 3)) && [[ $3 == --no-queue ]]; then
        no_queue=1
    elif (($# != 2)); then
        usage
    fi
    start_server "$no_queue"
    ;;
stop)
    (($# == 2)) || usage
    stop_server
    ;;
env)
    (($# == 2)) || usage
    print_env
    ;;
*)
    usage
    ;;
esac
