# Sourced: lessa_start_xvfb starts a private X server on a free display, waits until it
# answers, exports DISPLAY and sets LESSA_XVFB_PID. Extra arguments go to Xvfb.
# shellcheck shell=bash

lessa_start_xvfb() {
    local candidate display=""
    for candidate in $(seq 140 239); do
        if [[ ! -e /tmp/.X11-unix/X$candidate && ! -e /tmp/.X$candidate-lock ]]; then
            display=":$candidate"
            break
        fi
    done
    [[ -n $display ]] || { echo "error: no free X display between :140 and :239" >&2; return 1; }
    Xvfb "$display" -screen 0 1280x1024x24 -nolisten tcp "$@" >/dev/null 2>&1 &
    LESSA_XVFB_PID=$!
    local _
    for _ in $(seq 100); do
        xdpyinfo -display "$display" >/dev/null 2>&1 && break
        sleep 0.05
    done
    export DISPLAY=$display
}
