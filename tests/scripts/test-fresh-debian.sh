#!/usr/bin/env bash
# Checks scripts/fresh-debian.sh's guards against destroying what is not its own: release
# names, the per-release lock, mounts a killed run left below a root, mounts of another root,
# a root that is a symbolic link. The script runs in a scratch layout (LESSA_FRESH_TEST_SCRATCH,
# a stand-in debootstrap, no clone or chroot) on a tmpfs, inside a private mount namespace, so
# no mount made here reaches the host; every mount source is a scratch folder of this test.
# Needs root; exits 77 (skipped) without root or unshare.
set -uo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
script=$(realpath "$here/../../scripts/fresh-debian.sh")
source "$here/../support/check.sh"

if [[ ${1:-} != --in-namespace ]]; then
    [[ $(id -u) -eq 0 ]] || { echo "SKIP: needs root (mounts, chroot roots)"; exit 77; }
    unshare --mount --propagation private true 2>/dev/null ||
        { echo "SKIP: unshare --mount is not available here"; exit 77; }
    outer=$(mktemp -d /tmp/lessa-fresh-test.XXXXXX) || exit 1
    unshare --mount --propagation private "$BASH" "${BASH_SOURCE[0]}" --in-namespace \
        "$(readlink /proc/self/ns/mnt)" "$outer"
    status=$?
    rm -rf --one-file-system -- "$outer"
    exit $status
fi
[[ $(readlink /proc/self/ns/mnt) != "$2" ]] || { echo "error: not in a mount namespace" >&2; exit 1; }
outer=$(realpath -e -- "$3") || exit 1
mount -t tmpfs lessa-fresh-test "$outer" || exit 1
# The shields below may hide the checkout itself (a clone in /var/tmp): run a copy.
mkdir -p "$outer/src" && cp -r "$(dirname "$script")" "$outer/src/scripts" || exit 1
script="$outer/src/scripts/fresh-debian.sh"
# Even a script that ignored the override could not reach the real cache and work folders.
mount -t tmpfs shield /var/cache && mount -t tmpfs shield /var/tmp || exit 1

lab="$outer/lab"
mkdir -p "$lab/bin" "$outer/x" "$outer/host-dev" "$outer/elsewhere" "$outer/no-marker"
printf '%s' "$lab" >"$lab/.lessa-fresh-test-scratch"
echo keep >"$outer/x/keep"
echo keep >"$outer/host-dev/keep"
echo keep >"$outer/elsewhere/keep"
# debootstrap's stand-in: the few folders a root needs; with LESSA_TEST_HOLD it says it has
# started and waits until the test writes a line to that fifo.
cat >"$lab/bin/debootstrap" <<EOF
#!/bin/bash
target=\${@: -2:1}
[[ \$target == "$lab"/* ]] || { echo "stand-in debootstrap: \$target is not below $lab" >&2; exit 1; }
mkdir -p "\$target/etc/apt/sources.list.d" "\$target/"{proc,sys,dev,tmp}
echo base >"\$target/etc/os-release"
if [ -n "\${LESSA_TEST_HOLD:-}" ]; then
    : >"\$LESSA_TEST_HOLD.started"
    read -r _ <"\$LESSA_TEST_HOLD"
fi
EOF
chmod +x "$lab/bin/debootstrap"

check_shows="$lab/out"
fresh() {
    LESSA_FRESH_TEST_SCRATCH="$lab" PATH="$lab/bin:$PATH" "$script" "$@" >"$lab/out" 2>&1
}
exits() {
    local expected=$1
    shift
    fresh "$@"
    local status=$?
    ((status == expected)) || { echo "    exit $status, expected $expected"; return 1; }
}
mounted_below() { [[ -n $(awk -v d="$1/" 'index($5, d) == 1' /proc/self/mountinfo) ]]; }
survives() { [[ $(cat "$1/keep" 2>/dev/null) == keep ]]; }
says() { grep -q -- "$1" "$lab/out"; }

# A bad release name is refused before anything is touched. "../../x" names $outer/x from the
# cache folder and from the work folder.
for name in ../../x bookworm/../../x '' woody '-rf'; do
    check "release name '$name' exits 2" exits 2 "$name"
done
check "a bad name among good ones exits 2" exits 2 bookworm ../../x
check "a bad release name removed nothing" survives "$outer/x"
check "a bad release name made no folder" test ! -e "$lab/cache"

check "the override is refused without the test's marker (no fall-back to the real folders)" \
    eval 'LESSA_FRESH_TEST_SCRATCH="$outer/no-marker" "$script" bookworm >"$lab/out" 2>&1
        (($? == 2)) && [[ -z $(ls -A "$outer/no-marker") ]]'

check "a first run makes the root" exits 0 bookworm
root="$lab/work/bookworm"
check "the root is a copy of the base" test -f "$root/etc/os-release"

# A run killed by SIGKILL leaves its --rbind of /dev (here a scratch folder with a mount below
# it) mounted below the root.
mkdir -p "$outer/host-dev/pts"
mount -t tmpfs pts "$outer/host-dev/pts" && echo keep >"$outer/host-dev/pts/keep"
mount --rbind "$outer/host-dev" "$root/dev"
check "a run over a leftover bind mount succeeds" exits 0 bookworm
check "the leftover mounts are gone" eval '! mounted_below "$root"'
check "the bound folder's files survive" survives "$outer/host-dev"
check "the files of the mount below the bound folder survive" survives "$outer/host-dev/pts"
check "the root is made again" test -f "$root/etc/os-release"

# Still in use: a process works in the bound folder, so it cannot be unmounted.
mount --bind "$outer/host-dev" "$root/dev"
(cd "$root/dev" && exec sleep 600) &
user=$!
for _ in $(seq 600); do
    [[ $(readlink "/proc/$user/cwd") == "$root/dev" ]] && break
    sleep 0.1
done
check "a busy leftover mount: the run refuses with exit 1" exits 1 bookworm
check "... and says what is still mounted" says "still mounted below it"
check "... and leaves the mount and the root alone" eval \
    'mounted_below "$root" && [[ -f $root/etc/os-release ]]'
check "... and the bound folder's files survive" survives "$outer/host-dev"
kill "$user"
wait "$user" 2>/dev/null
check "once nothing uses it, the next run unmounts it and succeeds" exits 0 bookworm
check "... and the bound folder's files survive" survives "$outer/host-dev"

# Another release's root keeps its mounts.
mkdir -p "$lab/work/trixie/dev"
mount --bind "$outer/host-dev" "$lab/work/trixie/dev"
check "a run of bookworm succeeds beside trixie's mounts" exits 0 bookworm
check "... and leaves them mounted" mounted_below "$lab/work/trixie"
umount "$lab/work/trixie/dev"

# A second run of a release while the first is building its base.
mkfifo "$lab/hold"
LESSA_TEST_HOLD="$lab/hold" LESSA_FRESH_TEST_SCRATCH="$lab" PATH="$lab/bin:$PATH" \
    "$script" trixie >"$lab/first.out" 2>&1 &
first=$!
for _ in $(seq 600); do
    [[ -e $lab/hold.started ]] && break
    sleep 0.1
done
check "the first run is building trixie's base" test -e "$lab/hold.started"
echo keep >"$lab/cache/trixie/keep"
check "a second run of trixie refuses with exit 3" exits 3 trixie
check "... and says another run holds it" says "another fresh-debian.sh run is using trixie"
check "a second run naming trixie among others refuses too" exits 3 bookworm trixie
check "... and the base the first run is building is left alone" survives "$lab/cache/trixie"
echo >"$lab/hold"
wait "$first"
check "the first run then ends well" test $? -eq 0
check "a run after it succeeds" exits 0 trixie

# A root replaced by a symbolic link to a folder elsewhere.
rm -rf --one-file-system -- "$root"
ln -s "$outer/elsewhere" "$root"
check "a root that is a symbolic link is refused with exit 1" exits 1 bookworm
check "... and the folder it points to is untouched" eval \
    'survives "$outer/elsewhere" && [[ ! -e $outer/elsewhere/etc ]]'

check_totals
