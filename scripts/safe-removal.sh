# Sourced: removing a folder tree that may have had file systems mounted below it (a chroot's
# /proc, /sys, /dev, /tmp). GNU rm crosses mount points, and through a bind mount it deletes
# the source's files (the host's /dev), so a tree is removed only while nothing is mounted at
# or below it, only inside the folder it belongs in, and with --one-file-system.
# shellcheck shell=bash

# True when $1 is a folder's resolved absolute path other than / with no blank or backslash
# (which mountinfo would write escaped): an empty or relative path, or /, would make every
# mount of the machine count as "below" it.
lessa_is_tree_path() {
    [[ $1 == /?* && $1 != *[[:space:]\\]* && -d $1 && $(realpath -e -- "$1") == "$1" ]] || {
        echo "error: '$1' is not the resolved path of a folder below /" >&2
        return 1
    }
}

# Mount points strictly below the resolved folder $1, deepest first, one a line, as
# /proc/self/mountinfo writes them (space, tab, newline and backslash as \NNN octal).
# With a second argument "with-self", $1 itself counts too.
lessa_mounts_below() {
    local dir=$1 with_self=${2:-}
    local found
    lessa_is_tree_path "$dir" || return 2
    found=$(awk -v dir="$dir" -v with_self="$with_self" '
        index($5, dir "/") == 1 || (with_self != "" && $5 == dir) { print $5 }' \
        /proc/self/mountinfo) || { echo "error: cannot read /proc/self/mountinfo" >&2; return 2; }
    [[ -z $found ]] || LC_ALL=C sort -r <<<"$found"
}

lessa_decode_mount_point() {
    # \NNN -> \0NNN, which printf %b reads as octal.
    printf '%b' "${1//\\/\\0}"
}

# Unmounts everything below the resolved folder $1, deepest first. Each mount is made a slave
# first, so that an unmount cannot propagate to the mount it was copied from (a /dev bound
# with --rbind but never made a slave, when a run was killed between the two). With "lazy",
# a mount that is busy is detached instead (only for mounts the caller made itself: a detached
# tree is out of rm's reach). Returns non-zero while anything is still mounted below $1.
lessa_unmount_below() {
    local dir=$1 lazy=${2:-} before after mount_point
    after=$(lessa_mounts_below "$dir") || return
    while [[ -n $after ]]; do
        before=$after
        while read -r mount_point; do
            mount --make-slave -- "$(lessa_decode_mount_point "$mount_point")" 2>/dev/null || true
        done <<<"$before"
        while read -r mount_point; do
            mount_point=$(lessa_decode_mount_point "$mount_point")
            umount -- "$mount_point" 2>/dev/null ||
                { [[ $lazy == lazy ]] && umount -l -- "$mount_point" 2>/dev/null; } || true
        done <<<"$before"
        after=$(lessa_mounts_below "$dir") || return
        [[ $after != "$before" ]] || break
    done
    [[ -z $after ]]
}

# Removes the folder $1, which must resolve to a path below the folder $2 (the folder the
# caller keeps its trees in), after unmounting what a killed run left below it. Refuses, with
# a message and status 1, a symbolic link, a path outside $2, a folder that is itself a mount
# point, and one with mounts below it that cannot be unmounted (busy: something still runs in
# it). Nothing is removed then.
lessa_remove_tree() {
    local path=$1 parent resolved mounts
    parent=$(realpath -e -- "$2") || { echo "error: $2 does not exist" >&2; return 1; }
    [[ -e $path || -L $path ]] || return 0
    if [[ -L $path ]]; then
        echo "error: refusing to remove $path: a symbolic link, not a folder made here" >&2
        return 1
    fi
    resolved=$(realpath -e -- "$path") || return 1
    if [[ $resolved != "$parent"/?* ]]; then
        echo "error: refusing to remove $path: it resolves to $resolved, outside $parent" >&2
        return 1
    fi
    lessa_is_tree_path "$resolved" || return 1
    mounts=$(lessa_mounts_below "$resolved" with-self) || return 1
    if grep -qFx -- "$resolved" <<<"$mounts"; then
        echo "error: refusing to remove $resolved: it is itself a mount point" >&2
        return 1
    fi
    if ! lessa_unmount_below "$resolved"; then
        echo "error: refusing to remove $resolved: still mounted below it (busy: is a" \
            "process still running in it?):" >&2
        lessa_mounts_below "$resolved" | sed 's/^/    /' >&2
        echo "Stop what uses them and unmount them (umount -R), then run again." >&2
        return 1
    fi
    rm -rf --one-file-system -- "$resolved"
}
