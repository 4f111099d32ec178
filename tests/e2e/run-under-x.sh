#!/usr/bin/env bash
# Runs a command on a private X server with a window manager (minimising needs one; fluxbox
# reports moves of undecorated windows to Qt, which openbox does not) and a
# compositing manager (translucent windows need one), then tears them down.
set -uo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/../../scripts/xvfb.sh"
export LC_ALL=C.UTF-8 LANG=C.UTF-8

# stop PID...: asks each to end, and kills what still runs five seconds later (a window manager
# can hang in its exit once its X server is going), so that the test never waits for ever.
stop() {
    local pid _
    kill "$@" 2>/dev/null
    for pid in "$@"; do
        for _ in $(seq 50); do
            kill -0 "$pid" 2>/dev/null || break
            sleep 0.1
        done
        kill -KILL "$pid" 2>/dev/null
        wait "$pid" 2>/dev/null
    done
}

lessa_start_xvfb +extension Composite || exit 1
helpers=()
if [[ -z "${NO_WM:-}" ]]; then
    fluxbox >/dev/null 2>&1 &
    helpers+=($!)
fi
xcompmgr >/dev/null 2>&1 &
helpers+=($!)
sleep 0.5

"$@"
status=$?

stop "${helpers[@]}"
stop "$LESSA_XVFB_PID"
exit $status
