#!/usr/bin/env bash
# Proves the two commands on fresh Debian roots (docs/development.md, "Proving on fresh Debian
# roots"): debootstrap, a clone of main, ./run and ./test with a clean environment. Needs root.
#   scripts/fresh-debian.sh [--windows] RELEASE...
# Unknown releases exit 2 before anything is touched; a release another run holds exits 3; a
# root with busy mounts below it exits 1. LESSA_FRESH_TEST_SCRATCH is for
# tests/scripts/test-fresh-debian.sh only: a scratch folder holding a .lessa-fresh-test-scratch
# file with its own path, where the folders live and each release stops before the clone.
set -euo pipefail
LESSA_ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
remove_tree="$LESSA_ROOT/scripts/remove-tree.sh"

# The releases the two commands are proven on. A name is also a path component below the
# cache and work folders, so nothing else is ever accepted.
known_releases=(bookworm trixie)

windows=0
if [[ ${1:-} == --windows ]]; then
    windows=1
    shift
fi
(($#)) || { echo "usage: $0 [--windows] ${known_releases[*]}..." >&2; exit 2; }
releases=()
for release in "$@"; do
    [[ " ${known_releases[*]} " == *" $release "* ]] || {
        echo "error: unknown release '$release' (known: ${known_releases[*]})" >&2
        exit 2
    }
    [[ " ${releases[*]} " == *" $release "* ]] || releases+=("$release")
done
[[ $(id -u) -eq 0 ]] || { echo "error: $0 needs root (debootstrap, chroot, mount)" >&2; exit 2; }

cache=/var/cache/lessa/fresh
# Both below /var/cache, which only root can write: no other user can plant a link or a root
# there for this script to remove or to run ./test in.
work=/var/cache/lessa/fresh-work
artifacts="$LESSA_ROOT/build-fresh"
scratch=""
if [[ -n ${LESSA_FRESH_TEST_SCRATCH:-} ]]; then
    scratch=$(realpath -e -- "$LESSA_FRESH_TEST_SCRATCH" 2>/dev/null) || scratch=""
    marker="$scratch/.lessa-fresh-test-scratch"
    if [[ -z $scratch || $scratch == / || ! -d $scratch || -L $marker || ! -f $marker ||
        $(<"$marker") != "$scratch" ]]; then
        echo "error: LESSA_FRESH_TEST_SCRATCH is not a scratch folder made by the test" >&2
        exit 2
    fi
    cache="$scratch/cache"
    work="$scratch/work"
    artifacts="$scratch/artifacts"
fi
mkdir -p "$cache" "$work" "$artifacts"
for folder in "$cache" "$work"; do
    if [[ -L $folder || $(stat -c %u -- "$folder") != 0 ]]; then
        echo "error: $folder is a link or not owned by root; refusing to use it" >&2
        exit 2
    fi
done

# Held until the end; the processes run in the roots do not inherit them, so nothing a test
# leaves running there keeps a release locked.
lock_fds=()
for release in "${releases[@]}"; do
    exec {fd}>>"$cache/$release.lock"
    if ! flock -n "$fd"; then
        echo "error: another fresh-debian.sh run is using $release (it holds" \
            "$cache/$release.lock); wait until it ends" >&2
        exit 3
    fi
    lock_fds+=("$fd")
done
close_locks() {
    local fd
    for fd in "${lock_fds[@]}"; do
        exec {fd}>&-
    done
}

# The first archive this machine's apt uses whose Release file is Debian's own (Origin and
# Label "Debian"): a third-party repository whose address merely ends in /debian is not one.
debian_archive() {
    local uri lists=/var/lib/apt/lists release
    for uri in $( (sed -n 's/^URIs:\s*//p' /etc/apt/sources.list.d/*.sources
        sed -n 's/^deb\s\+\(\[[^]]*\]\s\+\)\?\(\S\+\).*/\2/p' /etc/apt/sources.list \
            /etc/apt/sources.list.d/*.list) 2>/dev/null); do
        uri=${uri%/}
        for release in "$lists/$(sed 's|^[a-z+]*://||; s|/|_|g' <<<"$uri")"_dists_*Release; do
            [[ -f $release ]] && grep -qx 'Origin: Debian' "$release" &&
                grep -qx 'Label: Debian' "$release" && { echo "$uri"; return; }
        done
    done
    echo http://deb.debian.org/debian
}
mirror=$(debian_archive)

# Everything mounted below the roots this run mounted into (never another run's), deepest
# first, also what a test left behind; a busy mount is detached.
roots=()
unmount_all() {
    local root
    for root in "${roots[@]}"; do
        "$remove_tree" --unmount-only --lazy "$root" || echo "warning: still mounted below $root" >&2
    done
}
trap unmount_all EXIT

mount_into() {
    local root=$1
    roots+=("$(realpath -e -- "$root")")
    mount -t proc proc "$root/proc"
    mount -t sysfs sys "$root/sys"
    mount --rbind /dev "$root/dev"
    mount --make-rslave "$root/dev"
    mount -t tmpfs tmpfs "$root/tmp"
}

base_root() {
    local release=$1
    local base="$cache/$release"
    if [[ ! -e $base/.lessa-complete ]]; then
        echo "== debootstrap $release from $mirror (cached in $base)" >&2
        if [[ -n $scratch ]]; then
            [[ $(command -v debootstrap) == "$scratch"/* ]] ||
                { echo "error: a test's run only uses a debootstrap from $scratch" >&2; return 1; }
        elif ! command -v debootstrap >/dev/null; then
            apt-get update -qq && apt-get install -y -qq debootstrap >/dev/null || return 1
        fi
        "$remove_tree" --unmount "$base" "$cache" || return 1
        debootstrap --variant=minbase --include=git,ca-certificates "$release" "$base" \
            "$mirror" >"$cache/$release-debootstrap.log" 2>&1 ||
            { tail -20 "$cache/$release-debootstrap.log" >&2; return 1; }
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
    (close_locks && exec chroot "$root" /usr/bin/env -i PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin \
        HOME=/root TERM=dumb LESSA_WINDOWS="$windows" /bin/bash -c "cd /work/lessa && $name") \
        >"$artifacts/$release/${name#./}.log" 2>&1 || status=$?
    results+=("$(printf '%-9s %-7s exit %-3d %5d s' "$release" "$name" "$status" \
        $((SECONDS - started)))")
}

for release in "${releases[@]}"; do
    base=$(base_root "$release")
    root="$work/$release"
    echo "== $release: fresh copy of the bare root in $root"
    base=$(realpath -e -- "$base")
    "$remove_tree" --unmount-only "$base" || { echo "error: still mounted below $base" >&2; exit 1; }
    "$remove_tree" --unmount "$root" "$work"
    mkdir -p "$root" "$artifacts/$release"
    cp -a "$base/." "$root/"
    if [[ -n $scratch ]]; then
        echo "   test run: stopping before the clone"
        continue
    fi
    cp /etc/resolv.conf "$root/etc/resolv.conf" 2>/dev/null || true
    mkdir -p "$root/work"
    git clone -q --branch main "$LESSA_ROOT" "$root/work/lessa"
    mount_into "$root"
    run_in "$root" "$release" ./run
    cp "$root/work/lessa/build/screenshot.png" "$artifacts/$release/" 2>/dev/null || true
    run_in "$root" "$release" ./test
    for build in build build-win32 build-win64; do
        [[ ! -d $root/work/lessa/$build/artifacts ]] ||
            cp -r "$root/work/lessa/$build/artifacts" "$artifacts/$release/$build" 2>/dev/null
    done
    unmount_all
    echo "   logs and screenshot in $artifacts/$release/"
done

((${#results[@]} == 0)) || printf '%s\n' "${results[@]}"
