#!/usr/bin/env bash
# scripts/x-server.sh where a chroot meets it: another X server holds display :0 with its lock
# and socket files in a /tmp this shell does not see, but shares the abstract socket name that
# X clients try first. The private server must take another number, and a command run on it
# must reach it, not the other one. Runs in private network and mount namespaces; needs root
# (exit 77 otherwise).
set -uo pipefail
x_server=$(realpath "$(dirname "${BASH_SOURCE[0]}")/../../scripts/x-server.sh")
if [[ ${1:-} != --in-namespace ]]; then
    [[ $(id -u) -eq 0 ]] && command -v Xvfb xdpyinfo >/dev/null &&
        unshare --net --mount --propagation private true 2>/dev/null ||
        { echo "SKIP: needs root, unshare, Xvfb and xdpyinfo"; exit 77; }
    exec unshare --net --mount --propagation private "$BASH" "${BASH_SOURCE[0]}" --in-namespace
fi
source "$(dirname "$x_server")/../tests/support/check.sh"
unset DISPLAY
# Keep the script under test across the private /tmp (the checkout may lie below /tmp).
code=$(<"$x_server")
mount -t tmpfs chroot-tmp /tmp || exit 1
printf '%s\n' "$code" >/tmp/x-server.sh
unshare --mount --propagation private bash -c \
    'mount -t tmpfs host-tmp /tmp && exec Xvfb :0 -screen 0 640x480x24 -nolisten tcp' \
    >/dev/null 2>&1 &
other=$!
trap 'kill "$other" 2>/dev/null' EXIT
for _ in $(seq 200); do
    grep -q '@/tmp/.X11-unix/X0$' /proc/net/unix && break
    sleep 0.05
done

seen=$(bash /tmp/x-server.sh run bash -c 'echo "$DISPLAY"; xdpyinfo | grep dimensions')
check "the private server takes another display than :0" test "${seen%%$'\n'*}" != :0
check "and a command run on it reaches it" grep -q '1280x1024 pixels' <<<"$seen"
state=/tmp/x.state
bash /tmp/x-server.sh start "$state" >/dev/null
check "a background server answers through its state" \
    bash /tmp/x-server.sh in "$state" xdpyinfo -queryExtensions >/dev/null
pid=$(sed -n 2p "$state")
bash /tmp/x-server.sh stop "$state"
check "and is gone after stop" test ! -e "/proc/$pid"
# A state file left from before a reboot names pids that other processes now have.
sleep 60 &
bystander=$!
printf ':99\n%s:1\n' "$bystander" >"$state"
bash /tmp/x-server.sh stop "$state"
check "stop leaves alone a process that only has a recorded pid" kill -0 "$bystander"
kill "$bystander"
check_totals
