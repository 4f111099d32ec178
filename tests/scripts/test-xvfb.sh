#!/usr/bin/env bash
# Checks scripts/xvfb.sh's lessa_start_xvfb where a chroot meets it: another X server runs on
# :140 with its lock file and socket file in a /tmp this shell does not see, but shares the
# abstract socket name, which X clients try first. lessa_start_xvfb must then use a display of
# its own; and when Xvfb cannot start, it must say so and leave DISPLAY alone. Runs in private
# network and mount namespaces (no other X server is visible or disturbed). Needs root;
# exits 77 (skipped) without root, unshare, Xvfb or xdpyinfo.
set -uo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
xvfb_sh=$(realpath "$here/../../scripts/xvfb.sh")

if [[ ${1:-} != --in-namespace ]]; then
    [[ $(id -u) -eq 0 ]] || { echo "SKIP: needs root (namespaces)"; exit 77; }
    command -v Xvfb >/dev/null && command -v xdpyinfo >/dev/null ||
        { echo "SKIP: needs Xvfb and xdpyinfo"; exit 77; }
    unshare --net --mount --propagation private true 2>/dev/null ||
        { echo "SKIP: unshare --net --mount is not available here"; exit 77; }
    exec unshare --net --mount --propagation private "$BASH" "${BASH_SOURCE[0]}" --in-namespace
fi
export xvfb_sh
unset DISPLAY

# This shell sees what a chroot sees: a /tmp of its own. The other server has its /tmp too.
# The checkout may itself lie below /tmp: keep the script under test across the mount.
xvfb_code=$(<"$xvfb_sh") || exit 1
mount -t tmpfs chroot-tmp /tmp || exit 1
xvfb_sh=/tmp/xvfb.sh
printf '%s\n' "$xvfb_code" >"$xvfb_sh" || exit 1
unshare --mount --propagation private bash -c \
    'mount -t tmpfs host-tmp /tmp && exec Xvfb :140 -screen 0 640x480x24 -nolisten tcp' \
    >/dev/null 2>&1 &
other=$!
trap 'kill "$other" 2>/dev/null' EXIT
for _ in $(seq 200); do
    xdpyinfo -display :140 >/dev/null 2>&1 && break
    sleep 0.05
done

failures=0
check() {
    local description=$1
    shift
    if "$@" >"$out" 2>&1; then
        echo "ok - $description"
    else
        echo "not ok - $description"
        sed 's/^/    | /' "$out"
        failures=$((failures + 1))
    fi
}
out=$(mktemp)
check "the other server answers on :140" xdpyinfo -display :140

# A caller with set -e, as ./run is.
check "a private display beside the other server's abstract socket" \
    bash -euo pipefail -c '
        source "$xvfb_sh"
        lessa_start_xvfb
        trap "kill $LESSA_XVFB_PID 2>/dev/null || true" EXIT
        echo "DISPLAY=$DISPLAY"
        [[ $DISPLAY != :140 ]]
        kill -0 "$LESSA_XVFB_PID"
        [[ $(xdpyinfo) == *"dimensions:    1280x1024 pixels"* ]]
        kill "$LESSA_XVFB_PID"
        wait "$LESSA_XVFB_PID" || true
        ! xdpyinfo >/dev/null 2>&1'

# The server does not reset when a client leaves: a reset drops what the first client left
# (here a root window property), and a client that connects during it is refused (one start
# in ten, before, refused the first client after the check's own).
check "the server keeps its state when the first client leaves" \
    bash -euo pipefail -c '
        source "$xvfb_sh"
        lessa_start_xvfb
        trap "kill $LESSA_XVFB_PID 2>/dev/null || true" EXIT
        xprop -root -f LESSA_MARK 8s -set LESSA_MARK kept
        [[ $(xprop -root LESSA_MARK) == *kept* ]]'

stubs=$(mktemp -d)
printf '#!/bin/sh\necho "stand-in: no server" >&2\nexit 1\n' >"$stubs/Xvfb"
chmod +x "$stubs/Xvfb"
check "an Xvfb that cannot start is reported, with its words, and DISPLAY stays unset" \
    env PATH="$stubs:$PATH" stubs="$stubs" bash -uo pipefail -c '
        source "$xvfb_sh"
        if lessa_start_xvfb 2>"$stubs/err"; then echo "succeeded with DISPLAY=$DISPLAY"; exit 1; fi
        cat "$stubs/err"
        [[ -z ${DISPLAY:-} ]] && grep -q "stand-in: no server" "$stubs/err"'

# A display that turns out taken when the server starts: the next one is used.
real_xvfb=$(command -v Xvfb)
printf '#!/bin/sh\n[ "$1" = :141 ] && { echo "stand-in: :141 is taken" >&2; exit 1; }\nexec %s "$@"\n' \
    "$real_xvfb" >"$stubs/Xvfb"
check "a display taken at the start is passed over for the next free one" \
    env PATH="$stubs:$PATH" bash -euo pipefail -c '
        source "$xvfb_sh"
        lessa_start_xvfb
        trap "kill $LESSA_XVFB_PID 2>/dev/null || true" EXIT
        echo "DISPLAY=$DISPLAY"
        [[ $DISPLAY == :142 ]]
        xdpyinfo >/dev/null'
rm -rf -- "$stubs"

((failures == 0)) || { echo "$failures check(s) failed"; exit 1; }
echo "all checks passed"
