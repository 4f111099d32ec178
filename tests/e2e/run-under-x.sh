#!/usr/bin/env bash
# Runs a command on a private X server with a window manager (minimising needs one; fluxbox
# reports moves of undecorated windows to Qt, which openbox does not) and a
# compositing manager (translucent windows need one), then tears them down.
set -uo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/../../scripts/xvfb.sh"
export LC_ALL=C.UTF-8 LANG=C.UTF-8

lessa_start_xvfb +extension Composite || exit 1
[[ -z "${NO_WM:-}" ]] && { fluxbox >/dev/null 2>&1 & }
wm=$!
xcompmgr >/dev/null 2>&1 &
compositor=$!
sleep 0.5

"$@"
status=$?

kill "$compositor" "$wm" 2>/dev/null
kill "$LESSA_XVFB_PID" 2>/dev/null
wait 2>/dev/null
exit $status
