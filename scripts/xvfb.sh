# Sourced: lessa_start_xvfb starts a private X server on a free display, waits until it
# answers, exports DISPLAY and sets LESSA_XVFB_PID. Extra arguments go to Xvfb. It returns
# non-zero, with DISPLAY untouched, when no server of its own could be started.
#
# A chroot with a private /tmp (scripts/fresh-debian.sh) does not see the host's X lock files
# and sockets, but shares the host's abstract socket names (@/tmp/.X11-unix/XN), which X
# clients try first: a display that looks free there may be the host's. So the server listens
# on its socket file only (-nolisten local), a display counts as free only when no abstract
# socket of that number exists either, and before DISPLAY is set the server must be alive
# and answering while no other server holds that abstract name.
# shellcheck shell=bash

# True when an abstract X socket for display number $1 exists in this network namespace.
lessa_x_abstract_socket_exists() {
    awk -v name="@/tmp/.X11-unix/X$1" '$8 == name { found = 1 } END { exit !found }' \
        /proc/net/unix 2>/dev/null
}

lessa_x_display_free() {
    [[ ! -e /tmp/.X11-unix/X$1 && ! -e /tmp/.X$1-lock ]] && ! lessa_x_abstract_socket_exists "$1"
}

lessa_start_xvfb() {
    local number attempts=0 log pid _
    log=$(mktemp "${TMPDIR:-/tmp}/lessa-xvfb.XXXXXX") || return 1
    for number in $(seq 140 239); do
        lessa_x_display_free "$number" || continue
        # Another server may take the number between the check and the start: then try the
        # next one, a few times.
        ((attempts++ < 5)) || break
        # -noreset: by default the server resets when its last client (the check below)
        # leaves, and a client connecting during the reset is refused.
        Xvfb ":$number" -screen 0 1280x1024x24 -nolisten tcp -nolisten local -noreset "$@" \
            >"$log" 2>&1 &
        pid=$!
        for _ in $(seq 200); do
            kill -0 "$pid" 2>/dev/null || break
            if ! lessa_x_abstract_socket_exists "$number" &&
                xdpyinfo -display ":$number" >/dev/null 2>&1; then
                # Answering, and no other server shares the name: it is this one.
                # shellcheck disable=SC2034 # read by the callers
                LESSA_XVFB_PID=$pid
                export DISPLAY=":$number"
                rm -f "$log"
                return 0
            fi
            lessa_x_abstract_socket_exists "$number" && break
            sleep 0.05
        done
        kill "$pid" 2>/dev/null || true
        wait "$pid" 2>/dev/null || true
        echo "Xvfb could not use display :$number; trying the next one" >&2
    done
    echo "error: could not start a private Xvfb (displays :140 to :239); its last words:" >&2
    tail -5 "$log" >&2
    rm -f "$log"
    return 1
}
