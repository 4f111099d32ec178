#!/usr/bin/env bash
# The one way our scripts and tests remove a folder tree. GNU rm crosses mount points, and
# through a bind mount it deletes the source's files (a chroot's /dev is the host's), so:
#   remove-tree.sh [--unmount] PATH PARENT
#       removes PATH, which must resolve to a folder strictly below PARENT (the folder the
#       caller keeps its trees in) and be neither a symbolic link nor a mount point, only while
#       nothing is mounted below it; with --unmount, what a killed run left mounted there is
#       unmounted first. Refuses with status 1, naming the mounts, and removes nothing.
#   remove-tree.sh --unmount-only [--lazy] PATH
#       unmounts everything below PATH, deepest first (--lazy detaches what is busy: only for
#       mounts the caller made itself); status 1 while anything is still mounted there.
set -uo pipefail

die() {
    echo "remove-tree.sh: $*" >&2
    exit 1
}

# Mount points strictly below the resolved folder $1 (and $1 itself with a second argument),
# deepest first, decoded from /proc/self/mountinfo's \NNN escapes.
mounts_below() {
    awk -v dir="$1" -v self="${2:-}" 'index($5, dir "/") == 1 || (self != "" && $5 == dir) {
        print $5 }' /proc/self/mountinfo | LC_ALL=C sort -r | while read -r point; do
        printf '%b\n' "${point//\\/\\0}"
    done
}

# unmount_below DIR [lazy]: each mount made a slave first, so that an unmount cannot propagate
# to the mount it was copied from (a /dev bound with --rbind whose run was killed before it
# was made a slave).
unmount_below() {
    local before after point
    after=$(mounts_below "$1")
    while [[ -n $after ]]; do
        before=$after
        while read -r point; do mount --make-slave -- "$point" 2>/dev/null; done <<<"$before"
        while read -r point; do
            umount -- "$point" 2>/dev/null || { [[ ${2:-} == lazy ]] && umount -l -- "$point"; }
        done <<<"$before" 2>/dev/null
        after=$(mounts_below "$1")
        [[ $after != "$before" ]] || break
    done
    [[ -z $after ]]
}

# resolved PATH: its resolved path, refusing anything whose mountinfo form would be escaped.
resolved() {
    local path
    path=$(realpath -e -- "$1") || die "$1 does not exist"
    [[ -d $path && $path == /?* && $path != *[[:space:]\\]* ]] ||
        die "'$1' is not a folder below / with a plain name"
    echo "$path"
}

if [[ ${1:-} == --unmount-only ]]; then
    lazy=""
    [[ ${2:-} == --lazy ]] && lazy=lazy && shift
    [[ -e ${2:-} ]] || exit 0
    dir=$(resolved "$2") || exit 1
    unmount_below "$dir" $lazy || { mounts_below "$dir" | sed 's/^/    /' >&2; exit 1; }
    exit 0
fi
unmount=0
[[ ${1:-} == --unmount ]] && unmount=1 && shift
(($# == 2)) || die "usage: remove-tree.sh [--unmount] PATH PARENT"
path=$1
[[ -e $path || -L $path ]] || exit 0
[[ ! -L $path ]] || die "refusing to remove $path: a symbolic link, not a folder made here"
parent=$(resolved "$2") || exit 1
dir=$(resolved "$path") || exit 1
[[ $dir == "$parent"/?* ]] || die "refusing to remove $path: it resolves to $dir, outside $parent"
! mounts_below "$dir" self | grep -qFx -- "$dir" ||
    die "refusing to remove $dir: it is itself a mount point"
((unmount)) && unmount_below "$dir"
if [[ -n $(mounts_below "$dir") ]]; then
    echo "remove-tree.sh: refusing to remove $dir: still mounted below it (is a process still" \
        "running in it?):" >&2
    mounts_below "$dir" | sed 's/^/    /' >&2
    exit 1
fi
rm -rf --one-file-system -- "$dir"
