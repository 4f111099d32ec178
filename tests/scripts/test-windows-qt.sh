#!/usr/bin/env bash
# scripts/deps.sh's static Qt, on scratch folders: a Qt counts as built only when its marker
# names today's source, patches and configure line; the source counts as patched only when
# every patch took, even inside $(...).
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
src=$LESSA_WIN_SRC/qtbase-opensource-src-5.15.8+dfsg marker=$src/.lessa-patched
mkdir -p "$src/debian" "$LESSA_WIN_CACHE/qt5-win32-static/bin"
echo 'qtbase-opensource-src (5.15.8+dfsg-11+deb12u3) bookworm; urgency=medium' \
    >"$src/debian/changelog"
lessa_qt_patch_id >"$marker"
install -m 755 /dev/null "$LESSA_WIN_CACHE/qt5-win32-static/bin/qmake"
complete=$LESSA_WIN_CACHE/qt5-win32-static/.complete

check "no .complete: not built" not lessa_qt_current i686
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
check "a lock held is held on, not waited for" lessa_lock source lessa_lock source true
echo f00 >"$marker"
check "a source patched otherwise: fetched again" not lessa_qt_source_dir

# A download whose patch cannot apply (no ssl.pri): apt-get stands in for the registry, which
# needs no deb-src entries then.
lessa_deb_src() { :; }
lessa_install() { :; }
apt-get() { mkdir -p qtbase-opensource-src-5.15.8+dfsg/src; }
rm -f "$marker"
fetched=$(lessa_qt_source 2>/dev/null)
check "a failed patch fails inside \$(...), unmarked" test $? != 0 -a -z "$fetched" -a ! -e "$marker"
while read -r file line; do mkdir -p "$src/${file%/*}" && echo -e "$line" >"$src/$file"; done <<'EOF'
src/network/ssl/ssl.pri LIBS += "-lSecur32" "-lCrypt32" "-lNcrypt"
src/network/ssl/qasn1element.cpp const std::locale localeC;\nif (!std::isdigit(v, localeC))
src/3rdparty/double-conversion/double-conversion.cc cType =\nuse_facet\nreturn cType.tolower(ch);
src/plugins/platforms/windows/qwindowsintegration.cpp #ifdef QT_NO_FREETYPE
src/widgets/styles/qstyle.qrc <file>images/up-16.png</file>\n<file>images/up-128.png</file>
EOF
check "patches that take mark the source patched" \
    eval 'lessa_qt_patch "$src" && [[ $(lessa_qt_source_dir) == "$src" ]]'
patched() { test "$(<"$src/src/$1")" == "$2"; }
check "MinGW's library names" patched network/ssl/ssl.pri 'LIBS += "-lsecur32" "-lcrypt32" "-lncrypt"'
check "ASN.1 digits, no locale" patched network/ssl/qasn1element.cpp "if ((v < '0' || v > '9'))"
check "ASCII letters, no locale" patched 3rdparty/double-conversion/double-conversion.cc \
    "return ch >= 'A' && ch <= 'Z' ? char(ch | 32) : ch;"
check "GDI fonts only" patched plugins/platforms/windows/qwindowsintegration.cpp '#if 1'
check "16-pixel icons only" patched widgets/styles/qstyle.qrc '<file>images/up-16.png</file>'
check_totals
