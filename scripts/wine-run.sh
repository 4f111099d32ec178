#!/usr/bin/env bash
# Runs a Windows program under Wine in one of this checkout's own prefixes; CTest's emulator for
# the Windows builds.
#   wine-run.sh PROGRAM [ARGS...]   run it: a 32-bit program with Wine's 32-bit loader, anything
#                                   else (64-bit programs, Wine's reg or msiexec) with the 64-bit one
#   wine-run.sh --prepare           make the prefix once (under the X server that will be used)
#   wine-run.sh --stop              end the prefix's Wine server
# The prefix is WINEPREFIX when that lies inside one of this checkout's build folders (build*/),
# build-win32/wineprefix when WINEPREFIX is unset; any other (a user's ~/.wine left in the shell)
# is refused: the tests write registry keys and install packages, and --prepare replaces a prefix
# that is not ready. Prefixes are 64-bit (WoW64), as 64-bit Windows is.
# Wine hands a Windows process only the QT_* variables spelt WINEQT_*: each is passed on so.
set -uo pipefail
LESSA_ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd -P)
LESSA_WINE_DIR=/usr/lib/wine

# Refuses (exit 2) any prefix that is not below one of this checkout's build folders.
prefix=$(realpath -m "${WINEPREFIX:-$LESSA_ROOT/build-win32/wineprefix}")
if [[ $prefix != "$LESSA_ROOT"/build*/?* ]]; then
    echo "wine-run.sh: refusing WINEPREFIX=${WINEPREFIX:-(unset)}: it lies outside this checkout's build" \
        "folders ($LESSA_ROOT/build*/); unset it to use build-win32/wineprefix" >&2
    exit 2
fi
export WINEPREFIX=$prefix
export WINEDEBUG=${WINEDEBUG:--all}
# No .NET or HTML engine to install, no host menu entries, and a crash ends the program
# instead of waiting in the crash debugger.
export WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-mscoree,mshtml,winemenubuilder.exe,winedbg.exe=}
# The 64-bit server serves the 32-bit processes of a WoW64 prefix too.
export WINESERVER=$LESSA_WINE_DIR/wineserver64
export WINELOADER=$LESSA_WINE_DIR/wine64
# QtTest writes to the debugger channel under Wine unless told to use stderr.
export WINEQT_FORCE_STDERR_LOGGING=1
while IFS='=' read -r name value; do
    [[ $name == QT_* ]] && export "WINE$name=$value"
done < <(env)

fail() {
    echo "wine-run.sh --prepare: $1" >&2
    [[ -n ${2:-} && -s $2 ]] && tail -20 "$2" >&2
    exit 1
}

# Makes the prefix: ready (.lessa-ready) only after every step succeeded. Only a prefix that
# this script made (.lessa-prefix) is ever replaced; two runs preparing one prefix take turns.
prepare() {
    # Windows has 微软雅黑 (Microsoft YaHei); Wine does not: without a replacement, Latin
    # letters in those texts fall back to a serif face. Nor Tahoma, Windows' dialog font and
    # Qt's default: looking for it, Qt reads the names of every installed font, a start-up
    # cost no Windows has. A prefix made with other replacements is made again.
    local fonts=('"微软雅黑"="WenQuanYi Micro Hei"' '"Microsoft YaHei"="WenQuanYi Micro Hei"'
        '"Tahoma"="WenQuanYi Micro Hei"')
    mkdir -p "$(dirname "$WINEPREFIX")" || exit 1
    exec 9>"$WINEPREFIX.lock" && flock 9 || fail "cannot lock $WINEPREFIX.lock"
    [[ -e $WINEPREFIX/.lessa-ready && $(<"$WINEPREFIX/.lessa-ready") == "${fonts[*]}" ]] &&
        { exec 9>&-; return 0; }
    if [[ -f $WINEPREFIX/.lessa-prefix ]]; then
        "$WINESERVER" -k 2>/dev/null
        "$LESSA_ROOT/scripts/remove-tree.sh" "$WINEPREFIX" "$LESSA_ROOT" ||
            fail "cannot remove $WINEPREFIX"
    elif [[ -e $WINEPREFIX ]]; then
        rmdir "$WINEPREFIX" 2>/dev/null ||
            fail "$WINEPREFIX exists and was not made by wine-run.sh: not replacing it"
    fi
    mkdir "$WINEPREFIX" && touch "$WINEPREFIX/.lessa-prefix" || fail "cannot create $WINEPREFIX"
    local log="$WINEPREFIX/.lessa-prepare.log"
    "$WINELOADER" wineboot -i >"$log" 2>&1 || fail "wineboot failed:" "$log"
    # The .reg file is UTF-16, so the Chinese name survives whatever the locale.
    local reg="$WINEPREFIX/.lessa-fonts.reg"
    printf '%s\r\n' 'Windows Registry Editor Version 5.00' '' \
        '[HKEY_CURRENT_USER\Software\Wine\Fonts\Replacements]' "${fonts[@]}" '' |
        iconv -f UTF-8 -t UTF-16 >"$reg" || fail "cannot write $reg"
    "$WINELOADER" regedit /S "Z:${reg//\//\\}" >>"$log" 2>&1 ||
        fail "regedit failed:" "$log"
    "$WINESERVER" -w || fail "the Wine server did not end cleanly"
    echo "${fonts[*]}" >"$WINEPREFIX/.lessa-ready" || fail "cannot mark $WINEPREFIX ready"
    exec 9>&-
}

case ${1:-} in
--prepare) prepare ;;
--stop) "$WINESERVER" -k 2>/dev/null || true ;;
*)
    # Wine would make a missing prefix itself, one that --prepare could then never replace.
    [[ -e $WINEPREFIX/.lessa-ready ]] || prepare
    if [[ $(objdump -f -- "${1:-}" 2>/dev/null) == *'file format pei-i386'* ]]; then
        WINELOADER=$LESSA_WINE_DIR/wine
        [[ -x $WINELOADER ]] ||
            { echo "wine-run.sh: $1 is 32-bit and $WINELOADER is missing (wine32)" >&2; exit 1; }
    fi
    exec "$WINELOADER" "$@"
    ;;
esac
