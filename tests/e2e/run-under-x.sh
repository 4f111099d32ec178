#!/usr/bin/env bash
# Runs a command on a private X server with a window manager (minimising needs one; fluxbox
# reports moves of undecorated windows to Qt, which openbox does not) and a
# compositing manager (translucent windows need one), then tears them down.
set -uo pipefail

for candidate in $(seq 140 199); do
    [[ -e /tmp/.X11-unix/X$candidate || -e /tmp/.X$candidate-lock ]] || { display=":$candidate"; break; }
done
Xvfb "$display" -screen 0 1280x1024x24 -nolisten tcp +extension Composite >/dev/null 2>&1 &
xvfb=$!
for _ in $(seq 100); do xdpyinfo -display "$display" >/dev/null 2>&1 && break; sleep 0.05; done
export DISPLAY=$display
[[ -z "${NO_WM:-}" ]] && { fluxbox >/dev/null 2>&1 & }
wm=$!
xcompmgr >/dev/null 2>&1 &
compositor=$!
sleep 0.5

"$@"
status=$?

kill "$compositor" "$wm" 2>/dev/null
kill "$xvfb" 2>/dev/null
wait 2>/dev/null
exit $status
