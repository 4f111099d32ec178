#!/usr/bin/env bash
# Proves the two commands on truly fresh machines: for each release named (bookworm, trixie)
# it makes a minimal Debian root with debootstrap from the registry this machine uses, adds
# only git and ca-certificates, clones the committed main into it and runs ./run and then
# ./test inside it with a clean environment (no LANG, no DISPLAY). Screenshots and logs land in
# build-fresh/RELEASE/; one line per release and command gives the exit code and the time.
#
#   scripts/fresh-debian.sh [--windows] RELEASE...
#
# The bare roots are cached in /var/cache/lessa/fresh, so a second run skips debootstrap.
# ./test's Windows stage (two Qt builds, some forty minutes) is left out unless --windows
# is given. Needs root.
set -euo pipefail
LESSA_ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
source "$LESSA_ROOT/scripts/ensure-deps.sh"

windows=0
if [[ ${1:-} == --windows ]]; then
    windows=1
    shift
fi
(($#)) || { echo "usage: $0 [--windows] bookworm|trixie..." >&2; exit 2; }
[[ $(id -u) -eq 0 ]] || { echo "error: $0 needs root (debootstrap, chroot, mount)" >&2; exit 2; }
command -v debootstrap >/dev/null || { apt-get update -qq && lessa_apt_install debootstrap; }

cache=/var/cache/lessa/fresh
artifacts="$LESSA_ROOT/build-fresh"
mkdir -p "$cache" "$artifacts"

# The first Debian registry this machine's apt uses.
mirror=$(sed -n 's/^URIs:\s*\(\S*debian\)\/\?$/\1/p' /etc/apt/sources.list.d/*.sources 2>/dev/null |
    grep -v security | head -1)
[[ -n $mirror ]] || mirror=$(sed -n 's/^deb \(\S*debian\)\/\? .*/\1/p' /etc/apt/sources.list \
    2>/dev/null | grep -v security | head -1)
mirror=${mirror:-http://deb.debian.org/debian}

# Everything mounted below the roots in use, deepest first, also what a test left behind.
roots=()
unmount_all() {
    local root mount_point
    for root in "${roots[@]}"; do
        awk '{print $2}' /proc/self/mounts | { grep "^$root/" || true; } | sort -r |
            while read -r mount_point; do
                umount "$mount_point" 2>/dev/null || umount -l "$mount_point" 2>/dev/null || true
            done
    done
}
trap unmount_all EXIT

mount_into() {
    local root=$1
    roots+=("$root")
    mount -t proc proc "$root/proc"
    mount -t sysfs sys "$root/sys"
    mount --rbind /dev "$root/dev"
    mount --make-rslave "$root/dev"
    mount -t tmpfs tmpfs "$root/tmp"
}

base_root() {
    local release=$1 base="$cache/$release"
    if [[ ! -e $base/.lessa-complete ]]; then
        echo "== debootstrap $release from $mirror (cached in $base)" >&2
        rm -rf "$base"
        debootstrap --variant=minbase --include=git,ca-certificates "$release" "$base" \
            "$mirror" >"$cache/$release-debootstrap.log" 2>&1 ||
            { tail -20 "$cache/$release-debootstrap.log"; return 1; }
        {
            echo "deb $mirror $release main"
            echo "deb $mirror $release-updates main"
        } >"$base/etc/apt/sources.list"
        rm -f "$base/etc/apt/sources.list.d/"*
        touch "$base/.lessa-complete"
    fi
    echo "$base"
}

results=()
run_in() {
    local root=$1 release=$2 name=$3
    local started=$SECONDS status=0
    chroot "$root" /usr/bin/env -i PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin \
        HOME=/root TERM=dumb LESSA_WINDOWS="$windows" /bin/bash -c "cd /work/lessa && $name" \
        >"$artifacts/$release/${name#./}.log" 2>&1 || status=$?
    results+=("$(printf '%-9s %-7s exit %-3d %5d s' "$release" "$name" "$status" \
        $((SECONDS - started)))")
}

for release in "$@"; do
    base=$(base_root "$release")
    root="/var/tmp/lessa-fresh/$release"
    echo "== $release: fresh copy of the bare root in $root"
    rm -rf "$root"
    mkdir -p "$root" "$artifacts/$release"
    cp -a "$base/." "$root/"
    cp /etc/resolv.conf "$root/etc/resolv.conf" 2>/dev/null || true
    mkdir -p "$root/work"
    git clone -q --branch main "$LESSA_ROOT" "$root/work/lessa"
    mount_into "$root"
    run_in "$root" "$release" ./run
    cp "$root/work/lessa/build/screenshot.png" "$artifacts/$release/" 2>/dev/null || true
    run_in "$root" "$release" ./test
    cp -r "$root/work/lessa/build/artifacts/e2e" "$artifacts/$release/" 2>/dev/null || true
    unmount_all
    echo "   logs and screenshot in $artifacts/$release/"
done

printf '%s\n' "${results[@]}"
