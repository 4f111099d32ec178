#!/usr/bin/env bash
# scripts/wine-run.sh --prepare touches no prefix but this checkout's own: a prefix named by an
# inherited WINEPREFIX outside the build folders, or one inside them that the script did not
# make, survives with its files; a prepare whose wineboot fails leaves no ready marker, and the
# next prepare replaces that half-made prefix with a ready one.
set -uo pipefail
LESSA_ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd -P)
wine_run="$LESSA_ROOT/scripts/wine-run.sh"
source "$LESSA_ROOT/tests/support/check.sh"

outside=$(mktemp -d)
inside=$(mktemp -d "$LESSA_ROOT/build-wine-run-test.XXXXXX")
cleanup() {
    WINEPREFIX="$inside/prefix" "$wine_run" --stop
    rm -rf --one-file-system "$outside" "$inside"
}
trap cleanup EXIT

# A user's own prefix, as WINEPREFIX=~/.wine left in the shell names it: no ready marker of ours.
mkdir -p "$outside/user-prefix/drive_c"
echo precious >"$outside/user-prefix/drive_c/file.txt"
WINEPREFIX="$outside/user-prefix" "$wine_run" --prepare 2>/dev/null
check "--prepare refuses a WINEPREFIX outside the build folders" test $? = 2
WINEPREFIX="$outside/user-prefix" "$wine_run" reg add 'HKCU\Software\Lessa' /f >/dev/null 2>&1
check "running a program refuses it too" test $? = 2
check "the user's prefix keeps its file" test -f "$outside/user-prefix/drive_c/file.txt"
check "and gets nothing of ours" test ! -e "$outside/user-prefix/.lessa-ready" -a \
    ! -e "$outside/user-prefix/system.reg"

# A folder inside the build folders that wine-run.sh did not make.
mkdir -p "$inside/foreign"
echo precious >"$inside/foreign/file.txt"
WINEPREFIX="$inside/foreign" "$wine_run" --prepare 2>/dev/null
check "--prepare refuses to replace a folder it did not make" test $? != 0
check "that folder keeps its file" test -f "$inside/foreign/file.txt"

# wineboot fails (Wine's own wineboot.exe switched off): the prefix is not ready.
WINEPREFIX="$inside/prefix" WINEDLLOVERRIDES='wineboot.exe=' "$wine_run" --prepare 2>/dev/null
check "a failed wineboot fails --prepare" test $? != 0
check "and leaves no ready marker" test ! -e "$inside/prefix/.lessa-ready"

if [[ -x /usr/lib/wine/wine64 ]]; then
    WINEPREFIX="$inside/prefix" "$wine_run" --prepare
    check "the next --prepare replaces the half-made prefix" test $? = 0
    check "and marks it ready" test -e "$inside/prefix/.lessa-ready" -a \
        -f "$inside/prefix/system.reg"
    # A program run before any --prepare (ctest in a fresh build folder) gets a prefix of ours,
    # not one Wine makes on its own that --prepare would later refuse to replace.
    WINEPREFIX="$inside/run-first" "$wine_run" cmd /c exit 0 >/dev/null 2>&1
    check "running a program first prepares the prefix" test -e "$inside/run-first/.lessa-ready" \
        -a -f "$inside/run-first/.lessa-prefix"
    WINEPREFIX="$inside/run-first" "$wine_run" --stop
else
    echo "SKIP   : a successful prepare (Wine is not installed)"
fi

check_totals
