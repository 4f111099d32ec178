#!/usr/bin/env bash
# A private X server (Xvfb) for programs and tests that need real windows.
#   x-server.sh run [--wm] COMMAND...   COMMAND on a server of its own, torn down after it
#   x-server.sh start STATE [--wm]      a server in the background; STATE records it
#   x-server.sh in STATE COMMAND...     COMMAND on the server that STATE records
#   x-server.sh stop STATE              ends that server and what runs beside it
# --wm adds fluxbox (minimising needs a window manager; it reports moves of frameless windows to
# Qt) and xcompmgr (translucent windows need a compositing manager).
# Xvfb picks the display itself (-displayfd): it takes a number only when it can bind every
# socket of it, the abstract one included, which a chroot shares with the host although it does
# not see the host's lock files; so the server is never mistaken for another one.
set -uo pipefail

# started PID: when the process started (field 22 of its stat, after the parenthesised name), so
# that a pid recorded in a state file is never taken for another process that got it later.
started() { sed 's/.*) //' "/proc/$1/stat" 2>/dev/null | cut -d' ' -f20; }

# start_server STATE WM: starts Xvfb, and with WM=1 the managers; STATE gets DISPLAY and each
# process as PID:START.
start_server() {
    local state=$1 wm=$2 numberfile pid number="" manager _
    numberfile=$(mktemp) || return 1
    setsid Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp +extension Composite \
        -noreset 3>"$numberfile" </dev/null >/dev/null 2>&1 &
    pid=$!
    for _ in $(seq 300); do
        number=$(head -1 "$numberfile")
        [[ -n $number ]] && break
        kill -0 "$pid" 2>/dev/null || break
        sleep 0.05
    done
    rm -f "$numberfile"
    if [[ -z $number ]]; then
        kill "$pid" 2>/dev/null
        echo "x-server.sh: Xvfb did not start" >&2
        return 1
    fi
    local pids=("$pid:$(started "$pid")")
    if [[ $wm == 1 ]]; then
        for manager in fluxbox xcompmgr; do
            DISPLAY=:$number setsid "$manager" </dev/null >/dev/null 2>&1 &
            pids+=("$!:$(started $!)")
        done
        # Windows mapped before fluxbox manages the screen would stay unmanaged.
        for _ in $(seq 100); do
            DISPLAY=:$number wmctrl -m >/dev/null 2>&1 && break
            sleep 0.1
        done
    fi
    printf ':%s\n%s\n' "$number" "${pids[*]}" >"$state"
}

# stop_server STATE: asks each process to end, kills what still runs five seconds later (a
# window manager can hang in its exit once its server is gone), server last.
stop_server() {
    local pids pid _
    [[ -f $1 ]] || return 0
    read -ra pids < <(sed -n 2p "$1")
    for ((i = ${#pids[@]} - 1; i >= 0; i--)); do
        pid=${pids[i]%%:*}
        # Only a process of ours: after a reboot or a crash the pid may be another's.
        [[ -n $pid && $(started "$pid") == "${pids[i]#*:}" ]] || continue
        kill "$pid" 2>/dev/null || continue
        for _ in $(seq 50); do
            kill -0 "$pid" 2>/dev/null || break
            sleep 0.1
        done
        kill -KILL "$pid" 2>/dev/null
    done
    rm -f "$1"
}

command=${1:-}
shift
case $command in
run)
    wm=0
    [[ ${1:-} == --wm ]] && wm=1 && shift
    state=$(mktemp) || exit 1
    trap 'stop_server "$state"' EXIT
    trap 'exit 130' INT
    trap 'exit 143' TERM HUP
    start_server "$state" "$wm" || exit 1
    DISPLAY=$(head -1 "$state") "$@" &
    wait $!
    ;;
start)
    stop_server "$1"
    start_server "$1" "$([[ ${2:-} == --wm ]] && echo 1 || echo 0)"
    ;;
in)
    state=$1
    shift
    [[ -f $state ]] || { echo "x-server.sh: no X server recorded in $state" >&2; exit 1; }
    DISPLAY=$(head -1 "$state") exec "$@"
    ;;
stop) stop_server "$1" ;;
*)
    echo "usage: x-server.sh run [--wm] COMMAND... | start STATE [--wm] | in STATE COMMAND..." \
        "| stop STATE" >&2
    exit 2
    ;;
esac
