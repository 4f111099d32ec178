#!/usr/bin/env bash
# The MSI under Wine, as a school's IT staff would use it: a silent per-machine install into a
# fresh prefix, an upgrade over an older version, the files and the Start-menu shortcut (its
# target and working directory read back from the .lnk), the program started the way the
# shortcut starts it (a screenshot, checked at a few pixels), and a silent uninstall that
# leaves nothing of ours and the classroom software's key untouched.
#
#   test-installer.sh OLDER.msi NEWER.msi NEWER_VERSION ARTIFACT_DIR
#
# Needs DISPLAY (an X server with a window manager). Exits non-zero at the first failure.
set -uo pipefail
LESSA_ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
older=$1 newer=$2 version=$3 artifacts=$4
mkdir -p "$artifacts"
export WINEPREFIX="$artifacts/prefix"
wine() { "$LESSA_ROOT/scripts/wine-run.sh" "$@"; }
failures=0
check() {
    local what=$1
    shift
    if "$@"; then
        echo "PASS   : $what"
    else
        echo "FAIL!  : $what"
        failures=$((failures + 1))
    fi
}

rm -rf "$WINEPREFIX"
"$LESSA_ROOT/scripts/wine-run.sh" --prepare
drive_c="$WINEPREFIX/drive_c"
# The 32-bit package lands in the 32-bit Program Files folder.
install_dir="$drive_c/Program Files (x86)/Lessa/VIP Card"
[[ -d "$drive_c/Program Files (x86)" ]] || install_dir="$drive_c/Program Files/Lessa/VIP Card"
# The all-users Start menu; Wine's msi puts even a per-machine package's shortcuts into the
# installing user's one, so that counts too.
lnk_name="Orla Nova/Orla Nova e-Textbook VIP Card.lnk"
lnk="$drive_c/ProgramData/Microsoft/Windows/Start Menu/Programs/$lnk_name"

# The classroom software's key, which nothing of ours may touch. The package is 32-bit, so on a
# 64-bit Windows its registry entries, and this key as the program reads it, are in the 32-bit
# view (Wow6432Node).
wine reg add 'HKLM\Software\Lessa\Lessa' /v InstallPath /t REG_SZ /d 'C:\Lessa' /f /reg:32 \
    >/dev/null

reg_query() {
    wine reg query "$@" /reg:32 2>/dev/null | tr -d '\r'
}
uninstall_key_has() {
    reg_query 'HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall' /s | grep -q "$1"
}
key_missing() {
    ! wine reg query "$1" /reg:32 >/dev/null 2>&1
}
classroom_key_untouched() {
    reg_query 'HKLM\Software\Lessa\Lessa' /v InstallPath | grep -q 'C:\\Lessa'
}
logo_drawn() {
    ! near "$(pixel 26 24)" 247,247,247
}
uninstall_entries() {
    reg_query 'HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall' /s |
        grep -c 'DisplayName.*Orla Nova e-Textbook VIP Card'
}
displayed_version() {
    reg_query 'HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall' /s |
        grep -A20 'DisplayName.*Orla Nova e-Textbook VIP Card' |
        sed -n 's/.*DisplayVersion\s*REG_SZ\s*//p' | head -1
}

wine msiexec /i "Z:${older//\//\\}" /qn
check "older version installs silently" test -f "$install_dir/bin/vipcard.exe"
wine msiexec /i "Z:${newer//\//\\}" /qn
check "upgrade leaves one entry in the installed programs" test "$(uninstall_entries)" = 1
check "the entry shows the newer version ($version)" test "$(displayed_version)" = "$version"
check "publisher is shown" uninstall_key_has 'Publisher.*Lessa'

for file in bin/vipcard.exe bin/images/ebook.png bin/images/ebookpic_1.png bin/images/close.png \
    mainqss/main.qss; do
    check "installed $file" test -f "$install_dir/$file"
done
check "no version.ini by default" test ! -e "$install_dir/bin/version.ini"
[[ -f $lnk ]] || lnk=$(find "$drive_c/users" -path "*/Start Menu/Programs/$lnk_name" -print -quit)
check "Start-menu shortcut" test -f "$lnk"

# Target and working directory, read back from the shell link itself.
mapfile -t link < <(python3 "$LESSA_ROOT/tests/installer/read-lnk.py" "$lnk" 2>/dev/null)
expected_bin='C:\Program Files (x86)\Lessa\VIP Card\bin'
[[ $install_dir == *"Program Files/"* ]] && expected_bin='C:\Program Files\Lessa\VIP Card\bin'
echo "shortcut: $lnk"
echo "shortcut target: ${link[0]:-?}  working directory: ${link[1]:-?}"
check "shortcut target is bin\\vipcard.exe" test "${link[0]:-}" = "$expected_bin\\vipcard.exe"
check "shortcut working directory is bin" test "${link[1]%\\}" = "$expected_bin"

# Start it as the shortcut does: its target, in its working directory.
(cd "$install_dir/bin" && exec "$LESSA_ROOT/scripts/wine-run.sh" ./vipcard.exe) &
app=$!
window=""
for _ in $(seq 300); do
    for candidate in $(xdotool search --onlyvisible --name . 2>/dev/null); do
        geometry=$(xdotool getwindowgeometry --shell "$candidate" 2>/dev/null)
        if grep -q 'WIDTH=936' <<<"$geometry" && grep -q 'HEIGHT=760' <<<"$geometry"; then
            window=$candidate
        fi
    done
    [[ -n $window ]] && break
    sleep 0.1
done
check "the installed program shows its 936 x 760 window" test -n "$window"
sleep 2
shot="$artifacts/installed.png"
import -window "${window:-root}" "$shot" 2>/dev/null
pixel() { convert "$shot" -format "%[fx:int(255*p{$1,$2}.r)],%[fx:int(255*p{$1,$2}.g)],%[fx:int(255*p{$1,$2}.b)]" info:; }
near() { # near "r,g,b" "r,g,b"
    python3 -c "import sys; a=list(map(int,sys.argv[1].split(','))); b=list(map(int,sys.argv[2].split(',')));\
sys.exit(0 if all(abs(x-y)<=3 for x,y in zip(a,b)) else 1)" "$1" "$2"
}
# The style sheet's window background, the card's grey and the blue "打开客户端" block; the
# logo picture at the top left is not background.
check "window background #f7f7f7 (style sheet)" near "$(pixel 40 300)" 247,247,247
check "card background #f4f4f4" near "$(pixel 345 600)" 244,244,244
blue=0
for y in $(seq 600 4 700); do
    near "$(pixel 360 "$y")" 71,120,199 && blue=1 && break
done
check "the blue 打开客户端 block" test "$blue" = 1
check "the logo picture (images\\key.png)" logo_drawn
kill "$app" 2>/dev/null
"$LESSA_ROOT/scripts/wine-run.sh" --stop

wine msiexec /x "Z:${newer//\//\\}" /qn
check "uninstall removes the install folder" test ! -e "$install_dir"
check "uninstall removes the Start-menu shortcut" test ! -e "$lnk"
check "uninstall removes the Start-menu folder" test ! -e "$(dirname "$lnk")"
check "uninstall removes the installed-programs entry" test "$(uninstall_entries)" = 0
check "uninstall removes the installer's registry key" key_missing 'HKLM\Software\Lessa\VIP Card'
check "the classroom software's key is untouched" classroom_key_untouched
"$LESSA_ROOT/scripts/wine-run.sh" --stop

echo "Totals: $failures failed"
exit $((failures > 0))
