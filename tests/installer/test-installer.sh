#!/usr/bin/env bash
# The MSI under Wine, as a school's IT staff would use it: a silent per-machine install into a
# fresh prefix, upgrades over an older version and a same-version rebuild, the log folder's rights,
# the files, the Start-menu shortcut (.lnk target, working directory, icon), the installed-programs
# entry under the window title's Chinese name, the program started as the shortcut does (screenshot
# pixels, window icon, its log in bin\log with NeedLog=1), and a silent uninstall that leaves
# nothing of ours, the classroom software's key untouched. Needs DISPLAY (with a window manager).
#   test-installer.sh OLDER.msi NEWER.msi NEWER_VERSION ARTIFACT_DIR   exits 1 if a check fails
set -uo pipefail
LESSA_ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
older=$1 newer=$2 version=$3 artifacts=$4
export WINEPREFIX="$artifacts/prefix"  # ARTIFACT_DIR/prefix
# The prefix is removed below: only ever one inside this checkout's build folders.
[[ $(realpath -m "$WINEPREFIX") == "$(realpath "$LESSA_ROOT")"/build*/?* ]] ||
    { echo "error: $WINEPREFIX lies outside this checkout's build folders" >&2; exit 2; }
mkdir -p "$artifacts"
wine() { "$LESSA_ROOT/scripts/wine-run.sh" "$@"; }
# Wine's ANSI and console code page follow the locale: under C.UTF-8 a Chinese registry value
# reads back as question marks, under zh_CN as GBK, as on a Chinese Windows.
wine_zh() { env LC_ALL=zh_CN.UTF-8 LANG=zh_CN.UTF-8 "$LESSA_ROOT/scripts/wine-run.sh" "$@"; }
# The product's name, carried by the installed-programs entry and the shortcut: the window title.
name=$(sed -n '/name="windowTitle"/{n;s/.*<string>\(.*\)<\/string>.*/\1/p}' \
    "$LESSA_ROOT/ui/mainpage.ui")
source "$LESSA_ROOT/tests/support/check.sh"
wine --stop
"$LESSA_ROOT/scripts/remove-tree.sh" "$WINEPREFIX" "$artifacts" || exit 1
wine --prepare
drive_c="$WINEPREFIX/drive_c"
# The 32-bit package lands in the 32-bit Program Files folder.
install_dir="$drive_c/Program Files (x86)/Lessa/VIP Card"
[[ -d "$drive_c/Program Files (x86)" ]] || install_dir="$drive_c/Program Files/Lessa/VIP Card"
# The all-users Start menu; Wine's msi puts even a per-machine package's shortcuts into the
# installing user's one, so that counts too.
lnk_name="Orla Nova/$name.lnk"
lnk="$drive_c/ProgramData/Microsoft/Windows/Start Menu/Programs/$lnk_name"

# The classroom software's key, which nothing of ours may touch. The package is 32-bit: on 64-bit
# Windows its entries, and this key as the program reads it, are in the 32-bit view (Wow6432Node).
classroom='HKLM\Software\Lessa\Lessa'
wine reg add "$classroom" /v InstallPath /d 'C:\Lessa' /f /reg:32 >/dev/null
reg_query() { # KEY [OPTIONS]: in the 32-bit view unless OPTIONS name another
    local view=/reg:32 && [[ " $* " == *" /reg:64 "* ]] && view=""
    wine_zh reg query "$@" $view 2>/dev/null | iconv -f GBK -t UTF-8 | tr -d '\r'
}
uninstall='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall'
key_present() { wine reg query "$1" /reg:32 >/dev/null 2>&1; }
classroom_key_untouched() { reg_query "$classroom" /v InstallPath | grep -q 'C:\\Lessa'; }
uninstall_entries() { reg_query "$uninstall" /s | grep -c "DisplayName\s*REG_SZ\s*$name\$"; }
# product_value KEY NAME_VALUE VALUE [REG_OPTION]: VALUE of KEY's subkey whose NAME_VALUE is ours.
product_value() {
    reg_query "$1" /s ${4:-} | awk -v name="$name" -v field="$2" -v value="$3" '
        /^HKEY_/ { if (ours) exit; delete values }
        { line = $0; sub(/^ +/, "", line); key = line; sub(/ .*/, "", key)
          sub(/^[^ ]+ +REG_[A-Z_]+ +/, "", line); values[key] = line }
        key == field && line == name { ours = 1 }
        END { if (ours) print values[value] }'
}
entry_value() { product_value "$uninstall" DisplayName "$1"; }
# unix_path 'C:\...': the file in the prefix. icon_sizes FILE: an .ico's sizes, on one line.
unix_path() { local path=${1//\\//}; echo "$drive_c/${path#[Cc]:/}"; }
icon_sizes() { python3 "$LESSA_ROOT/tests/support/pe-resources.py" ico "$1" | tr '\n' ' '; }

wine msiexec /i "Z:${older//\//\\}" /qn
check "older version installs silently" test -f "$install_dir/bin/vipcard.exe"
wine msiexec /i "Z:${newer//\//\\}" /qn
check "upgrade leaves one entry in the installed programs" test "$(uninstall_entries)" = 1
check "the entry shows the newer version ($version)" \
    test "$(entry_value DisplayVersion)" = "$version"
check "publisher is shown" test "$(entry_value Publisher)" = Lessa

# A rebuild of the same version has a new product code (Id="*") and package code, and nothing
# else that Windows Installer compares: made from the newer package, as a second build is.
rebuilt="$artifacts/rebuilt.msi"
cp "$newer" "$rebuilt"
product_code="{$(tr a-z A-Z </proc/sys/kernel/random/uuid)}"
msibuild "$rebuilt" \
    -q "UPDATE \`Property\` SET \`Value\` = '$product_code' WHERE \`Property\` = 'ProductCode'"
# msibuild -s: subject, author and template (kept, in msiinfo's order) and a new package code.
mapfile -t summary < <(msiinfo suminfo "$rebuilt" | sed -n 's/^\(Subject\|Author\|Template\): //p')
msibuild "$rebuilt" -s "${summary[@]}" "{$(tr a-z A-Z </proc/sys/kernel/random/uuid)}"
wine msiexec /i "Z:${rebuilt//\//\\}" /qn
check "a rebuild of the same version replaces it: one entry in the installed programs" \
    test "$(uninstall_entries)" = 1
check "the entry is the rebuild's" key_present "$uninstall\\$product_code"
check "the entry still shows $version" test "$(entry_value DisplayVersion)" = "$version"
check "the entry has the window title's Chinese name ($name)" test "$(reg_query \
    "$uninstall\\$product_code" /v DisplayName | sed -n 's/^ *DisplayName *REG_SZ *//p')" = "$name"

# The package's bin\log, created and locked, and the rights of that lock (Wine enforces none).
check "the package has bin\\log" bash -c \
    "msiinfo export '$newer' Directory | grep -qP '^LogFolder\tBinFolder\tlog\r?\$'"
check "it creates and locks bin\\log, and holds every shortcut under the Chinese name" \
    python3 "$LESSA_ROOT/installer/finish-msi.py" --check "$newer"
check "Users add files to bin\\log and append to them; only Administrators rewrite or delete them" \
    python3 "$LESSA_ROOT/tests/installer/log-rights.py" "$newer"

for file in bin/vipcard.exe bin/images/{ebook,ebookpic_1,close}.png mainqss/main.qss; do
    check "installed $file" test -f "$install_dir/$file"
done
check "no version.ini by default" test ! -e "$install_dir/bin/version.ini"
check "the log folder bin\\log is there, empty" \
    test -d "$install_dir/bin/log" -a -z "$(ls -A "$install_dir/bin/log" 2>/dev/null)"
[[ -f $lnk ]] || lnk=$(find "$drive_c/users" -path "*/Start Menu/Programs/$lnk_name" -print -quit)
check "Start-menu shortcut" test -f "$lnk"

# Target, working directory and icon, read back from the shell link itself.
mapfile -t link < <(python3 "$LESSA_ROOT/tests/installer/read-lnk.py" "$lnk" 2>/dev/null)
expected_bin='C:\Program Files (x86)\Lessa\VIP Card\bin'
[[ $install_dir == *"Program Files/"* ]] && expected_bin='C:\Program Files\Lessa\VIP Card\bin'
echo "shortcut: $lnk  target: ${link[0]:-?}  working directory: ${link[1]:-?}"
check "shortcut target is bin\\vipcard.exe" test "${link[0]:-}" = "$expected_bin\\vipcard.exe"
check "shortcut working directory is bin" test "${link[1]:+${link[1]%\\}}" = "$expected_bin"
# The Icon table's icon, which Windows Installer copies to %WINDIR%\Installer\{ProductCode}\.
echo "shortcut icon: ${link[2]:-?}  sizes: $(icon_sizes "$(unix_path "${link[2]:-}")")"
check "shortcut icon is the application icon (16 24 32 48 256)" \
    test "$(icon_sizes "$(unix_path "${link[2]:-}")")" = "16 24 32 48 256 "
# The installed programs show a Windows Installer product with the ProductIcon of its
# registration (Windows also copies it to the uninstall key's DisplayIcon; Wine does not).
arp_icon=$(product_value 'HKLM\Software\Classes\Installer\Products' ProductName ProductIcon /reg:64)
echo "installed-programs icon: ${arp_icon:-?}"
check "installed-programs entry shows the application icon" \
    test "$(icon_sizes "$(unix_path "${arp_icon%,*}")")" = "16 24 32 48 256 "

# An IT administrator turns the log on; the program, started as the shortcut does (its target,
# in its working directory), writes it into the installer's bin\log.
printf '[General]\r\nNeedLog=1\r\n' >"$install_dir/bin/version.ini"
(cd "$install_dir/bin" && exec "$LESSA_ROOT/scripts/wine-run.sh" ./vipcard.exe) &
app=$! window=""
for _ in $(seq 300); do
    for candidate in $(xdotool search --onlyvisible --name . 2>/dev/null); do
        geometry=$(xdotool getwindowgeometry --shell "$candidate" 2>/dev/null)
        [[ $geometry == *WIDTH=936* && $geometry == *HEIGHT=760* ]] && window=$candidate
    done
    [[ -n $window ]] && break
    sleep 0.1
done
check "the installed program shows its 936 x 760 window" test -n "$window"
sleep 2
shot="$artifacts/installed.png" && rm -f "$shot"
import -window "${window:-root}" "$shot" 2>/dev/null
# Without the window no pixel is checked: the screen is kept only to show what was there.
[[ -n $window ]] || mv -f "$shot" "$artifacts/screen-without-window.png"
# pixel X Y: the screenshot's "r,g,b" there. near R,G,B R,G,B: each within 3.
pixel() { local p="p{$1,$2}"; convert "$shot" -format \
    "%[fx:int(255*$p.r)],%[fx:int(255*$p.g)],%[fx:int(255*$p.b)]" info:; }
near() { python3 -c 'import sys; a, b = ([int(c) for c in arg.split(",")] for arg in sys.argv[1:])
sys.exit(0 if all(abs(x - y) <= 3 for x, y in zip(a, b)) else 1)' "$1" "$2"; }
# The style sheet's window background, the card's grey and the blue "打开客户端" block; the
# logo picture at the top left is not background (which stands in for a missing screenshot).
check "window background #f7f7f7 (style sheet)" near "$(pixel 40 300)" 247,247,247
check "card background #f4f4f4" near "$(pixel 345 600)" 244,244,244
blue=0
for y in $(seq 600 4 700); do near "$(pixel 360 "$y")" 71,120,199 && blue=1 && break; done
check "the blue 打开客户端 block" test "$blue" = 1
check "the logo picture (images\\key.png)" not near "$(pixel 26 24 || echo 247,247,247)" 247,247,247
# Wine hands the window's icon (the class icon Qt loads from IDI_ICON1, else Wine's own logo)
# to X as _NET_WM_ICON: the 32 x 32 one shows the logo's blue at its left edge.
window_icon_blue() {
    xprop -id "$window" -notype 32c _NET_WM_ICON 2>/dev/null | python3 -c "
import sys
text = sys.stdin.read()
values = [int(v) for v in text.split('=', 1)[1].replace(',', ' ').split()] if '=' in text else []
while values and values[0] != 32:  # each icon: width, height, its pixels
    values = values[2 + values[0] * values[1]:]
if not values:
    sys.exit(1)
argb = values[2 + 16 * 32 + 3]
rgb = ((argb >> 16) & 255, (argb >> 8) & 255, argb & 255)
print('window icon 32x32 at (3, 16): %d,%d,%d' % rgb, file=sys.stderr)
sys.exit(0 if all(abs(a - b) <= 8 for a, b in zip(rgb, (71, 120, 199))) else 1)"
}
check "the window carries the application icon" window_icon_blue
logs=("$install_dir"/bin/log/log_*.txt)
check "NeedLog=1 writes the log into bin\\log" test -s "${logs[0]}"
kill "$app" 2>/dev/null
wine --stop
echo "log: $(basename "${logs[0]}"): $(head -2 "${logs[0]}" 2>/dev/null | tr -d '\r' | tr '\n' ' ')"
# Before uninstalling, IT removes what it added (the installer removes only its own files).
rm -f "$install_dir/bin/version.ini" "$install_dir"/bin/log/log_*.txt

wine msiexec /x "Z:${rebuilt//\//\\}" /qn  # the installed product is the rebuild's
check "uninstall removes the install folder" test ! -e "$install_dir"
check "uninstall removes the Start-menu shortcut" test ! -e "$lnk"
check "uninstall removes the Start-menu folder" test ! -e "$(dirname "$lnk")"
check "uninstall removes the installed-programs entry" test "$(uninstall_entries)" = 0
check "uninstall removes the installer's key" not key_present 'HKLM\Software\Lessa\VIP Card'
check "the classroom software's key is untouched" classroom_key_untouched
wine --stop
check_totals
