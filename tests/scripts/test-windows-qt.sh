#!/usr/bin/env bash
# scripts/deps.sh's static Qt, on scratch folders: a Qt counts as built only when its marker
# names today's source and configure line; the source counts as patched only when the patch
# took, even inside $(...).
set -uo pipefail
LESSA_ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd -P)
# The functions only; nothing here fetches or builds a Qt.
source "$LESSA_ROOT/scripts/deps.sh"
set +e
source "$LESSA_ROOT/tests/support/check.sh"

scratch=$(mktemp -d)
trap 'rm -rf --one-file-system "$scratch"' EXIT
LESSA_WIN_CACHE=$scratch/opt
LESSA_WIN_SRC=$scratch/src
LESSA_WIN_LOCKS=$scratch
src=$LESSA_WIN_SRC/qtbase-opensource-src-5.15.8+dfsg
mkdir -p "$src/debian" "$LESSA_WIN_CACHE/qt5-win32-static/bin"
echo 'qtbase-opensource-src (5.15.8+dfsg-11+deb12u3) bookworm; urgency=medium' \
    >"$src/debian/changelog"
touch "$src/.lessa-patched"
printf '#!/bin/sh\n' >"$LESSA_WIN_CACHE/qt5-win32-static/bin/qmake"
chmod +x "$LESSA_WIN_CACHE/qt5-win32-static/bin/qmake"
complete=$LESSA_WIN_CACHE/qt5-win32-static/.complete

check "no marker: not built" not lessa_qt_current i686
basename "$src" >"$complete"
check "a marker without the configure line: rebuilt" not lessa_qt_current i686
lessa_qt_stamp i686 "$src" >"$complete"
check "today's source version and configure line: built" lessa_qt_current i686
sed -i '1s/deb12u3/deb12u4/' "$src/debian/changelog"
check "a new source version: rebuilt" not lessa_qt_current i686
sed -i '1s/deb12u4/deb12u3/' "$src/debian/changelog"
eval "today_$(declare -f lessa_qt_configure_args)"
lessa_qt_configure_args() { today_lessa_qt_configure_args "$@" && echo -no-feature-udpsocket; }
check "a changed configure line: rebuilt" not lessa_qt_current i686

# A download whose patch cannot apply (no ssl.pri): apt-get stands in for the registry, which
# needs no deb-src entries then.
lessa_deb_src() { :; }
lessa_install() { :; }
apt-get() { mkdir -p qtbase-opensource-src-5.15.8+dfsg/src; }
rm -f "$src/.lessa-patched"
fetched=$(lessa_qt_source 2>/dev/null)
check "a failed patch fails the source preparation inside \$(...)" test $? != 0 -a -z "$fetched"
check "and leaves no patched marker" test ! -e "$src/.lessa-patched"
pri=$src/src/network/ssl/ssl.pri
mkdir -p "$(dirname "$pri")"
echo 'LIBS_PRIVATE += -lSecur32 -lCrypt32 -lNcrypt' >"$pri"
check "a patch that takes marks the source patched" lessa_qt_patch "$src"
check "with MinGW's lower-case library names" grep -q -- '-lsecur32 -lcrypt32 -lncrypt' "$pri"

check_totals
