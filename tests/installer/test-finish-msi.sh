#!/usr/bin/env bash
# finish-msi.py's check of a finished package: the package as built passes; copies without the
# log folder's CreateFolder row, without its permission row, without one shortcut or without
# any fail it, naming what is missing, and finishing a package without that CreateFolder row
# fails too.
#   test-finish-msi.sh PACKAGE.msi SCRATCH_FOLDER
set -uo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
package=$1 copy=$2/changed.msi
finish=$root/installer/finish-msi.py
source "$root/tests/support/check.sh"
mkdir -p "$2"

# changed QUERY: a copy of the package with QUERY applied (libmsi's DELETE without WHERE removes
# a single row, so each names its rows).
changed() { cp "$package" "$copy" && msibuild "$copy" -q "$1"; }
# refused QUERY WHAT...: the check fails on that copy and names each WHAT.
refused() {
    local output what
    changed "$1" || return 1
    shift
    output=$(python3 "$finish" --check "$copy" 2>&1) && return 1
    echo "  $output"
    for what in "$@"; do [[ $output == *"$what"* ]] || return 1; done
}

check "the package as built passes" python3 "$finish" --check "$package"
check "without the log folder's CreateFolder row it fails" refused \
    "DELETE FROM \`CreateFolder\` WHERE \`Directory_\` = 'LogFolder'" 'CreateFolder LogFolder'
check "without the log folder's permission row it fails" refused \
    "DELETE FROM \`MsiLockPermissionsEx\` WHERE \`LockObject\` = 'LogFolder'" \
    'MsiLockPermissionsEx LogFolder'
check "without the desktop shortcut it fails" refused \
    "DELETE FROM \`Shortcut\` WHERE \`Shortcut\` = 'DesktopShortcut'" 'shortcut DesktopShortcut'
check "without any shortcut it fails" refused "DROP TABLE \`Shortcut\`" \
    'shortcut DesktopShortcut' 'shortcut MenuShortcut'
finishing_fails() {
    changed "DELETE FROM \`CreateFolder\` WHERE \`Directory_\` = 'LogFolder'" &&
        ! python3 "$finish" "$copy"
}
check "finishing a package without that CreateFolder row fails" finishing_fails

echo "Totals: $failures failed"
exit $((failures > 0))
