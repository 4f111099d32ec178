#!/usr/bin/env bash
# Runs a 64-bit Windows program under Wine in the project's prefix; CTest's emulator for the
# Windows build.
#   wine-run.sh PROGRAM [ARGS...]   run it
#   wine-run.sh --prepare           make the prefix once (under the X server that will be used)
#   wine-run.sh --stop              end the prefix's Wine server
# Wine hands a Windows process none of the host's QT_* variables, only those spelt WINEQT_*,
# so each QT_* variable is passed on that way.
set -uo pipefail
LESSA_ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
export WINEPREFIX=${WINEPREFIX:-$LESSA_ROOT/build-win64/wineprefix}
export WINEDEBUG=${WINEDEBUG:--all}
# No .NET or HTML engine to install, no host menu entries, and a crash ends the program
# instead of waiting in the crash debugger.
export WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-mscoree,mshtml,winemenubuilder.exe,winedbg.exe=}
# LESSA_WINE_LOADER picks the loader: /usr/lib/wine/wine for the 32-bit build (the prefix is a
# 64-bit one either way).
export WINELOADER=${LESSA_WINE_LOADER:-/usr/lib/wine/wine64}
export WINESERVER=/usr/lib/wine/wineserver64
# QtTest writes to the debugger channel under Wine unless told to use stderr.
export WINEQT_FORCE_STDERR_LOGGING=1
while IFS='=' read -r name value; do
    [[ $name == QT_* ]] && export "WINE$name=$value"
done < <(env)

case ${1:-} in
--prepare)
    [[ -e $WINEPREFIX/.lessa-ready ]] && exit 0
    rm -rf "$WINEPREFIX"
    "$WINELOADER" wineboot -i >/dev/null 2>&1
    # Windows has 微软雅黑 (Microsoft YaHei); Wine does not: without a replacement, Latin
    # letters in those texts fall back to a serif face. The .reg file is UTF-16, so the
    # Chinese name survives whatever the locale.
    reg=$(mktemp --suffix=.reg)
    printf '%s\r\n' 'Windows Registry Editor Version 5.00' '' \
        '[HKEY_CURRENT_USER\Software\Wine\Fonts\Replacements]' \
        '"微软雅黑"="WenQuanYi Micro Hei"' '"Microsoft YaHei"="WenQuanYi Micro Hei"' '' |
        iconv -f UTF-8 -t UTF-16 >"$reg"
    "$WINELOADER" regedit /S "Z:${reg//\//\\}" >/dev/null 2>&1
    rm -f "$reg"
    "$WINESERVER" -w
    touch "$WINEPREFIX/.lessa-ready"
    ;;
--stop)
    "$WINESERVER" -k 2>/dev/null || true
    ;;
*)
    exec "$WINELOADER" "$@"
    ;;
esac
