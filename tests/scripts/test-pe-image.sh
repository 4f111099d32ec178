#!/usr/bin/env bash
# tests/support/pe-resources.py, the Windows builds' executable checks, on small programs built
# here: the wrong format or subsystem, a MinGW runtime DLL needed, and vipcard.exe's icon, version
# information and manifest missing or not as expected each fail, naming what is wrong.
#   test-pe-image.sh SCRATCH_PARENT     exit 77 (skipped) when MinGW or pefile is missing
set -euo pipefail
parent=${1:?usage: test-pe-image.sh SCRATCH_PARENT}
for tool in i686-w64-mingw32-g++-posix i686-w64-mingw32-windres x86_64-w64-mingw32-gcc-posix; do
    command -v "$tool" >/dev/null || { echo "SKIP: $tool is not installed"; exit 77; }
done
python3 -c 'import pefile' 2>/dev/null || /usr/bin/python3 -c 'import pefile' 2>/dev/null ||
    { echo "SKIP: pefile is not installed (python3-pefile)"; exit 77; }
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
source "$root/tests/support/check.sh"
check_scratch "$parent" pe-image
cd "$scratch"
check_shows=out.log
fails_with() { # fails_with "WORD..." COMMAND...: COMMAND fails, with a FAIL line naming each WORD
    ! "${@:2}" || return 1
    local word
    for word in $1; do grep -q "^FAIL!.*$word" out.log || return 1; done
}
pe() { python3 "$root/tests/support/pe-resources.py" "$@" >out.log; }

printf 'int main(void) { return 0; }\n' >main.c
printf '#include <iostream>\nint main() { std::cout << 1; }\n' >main.cpp
# vipcard.exe's resources, configured as app/windows/WindowsResources.cmake does.
sed 's/@LESSA_VERSION_QUAD@/1.2.0.0/' "$root/app/windows/vipcard.manifest" >vipcard.manifest
sed -e "s|@LESSA_ICON_FILE@|$root/images/vipcard.ico|; s|@LESSA_MANIFEST_FILE@|vipcard.manifest|" \
    -e 's/@LESSA_VERSION_COMMAS@/1,2,0,0/; s/@PROJECT_VERSION@/1.2/; s/@LESSA_PRODUCT_NAME@/Card/' \
    "$root/app/windows/vipcard.rc.in" >vipcard.rc
i686-w64-mingw32-windres vipcard.rc -O coff -o vipcard.o
i686-w64-mingw32-gcc-posix -static -mwindows -o gui32.exe main.c
i686-w64-mingw32-gcc-posix -static -mwindows -o vipcard.exe main.c vipcard.o
i686-w64-mingw32-gcc-posix -static -o console32.exe main.c
x86_64-w64-mingw32-gcc-posix -static -mwindows -o gui64.exe main.c
i686-w64-mingw32-g++-posix -o runtime32.exe main.cpp
# GetTickCount64 came with Vista, CreateFile2 with Windows 8.
printf '#include <windows.h>\nint main(void) { return GetTickCount64() > 0; }\n' >vista.c
printf '#include <windows.h>\nint main(void) { return !CreateFile2(0, 0, 0, 0, 0); }\n' >win8.c
# One that MinGW-w64's headers declare for Windows 7 too.
printf '#include <windows.h>\nint main(void) { FILETIME t; GetSystemTimePreciseAsFileTime(&t);
    return 0; }\n' >precise.c
i686-w64-mingw32-gcc-posix -static -D_WIN32_WINNT=0x0600 -o vista32.exe vista.c
i686-w64-mingw32-gcc-posix -static -D_WIN32_WINNT=0x0602 -o win8-32.exe win8.c
x86_64-w64-mingw32-gcc-posix -static -o precise64.exe precise.c

check "a static 32-bit GUI program passes" pe image gui32.exe PE32 gui
check "a static 32-bit console program passes as one" pe image console32.exe PE32 console
check "a 64-bit GUI program passes as PE32+" pe image gui64.exe PE32+ gui
check "a console program fails as a GUI one" fails_with subsystem pe image console32.exe PE32 gui
check "a 64-bit program fails as PE32" fails_with PE32 pe image gui64.exe PE32 gui
check "a 32-bit program fails as PE32+" fails_with PE32+ pe image gui32.exe PE32+ gui
check "a program needing libstdc++-6.dll fails, naming it" \
    fails_with libstdc++-6.dll pe image runtime32.exe PE32 console
check "a program calling a Vista function passes the Windows 7 check" \
    pe image vista32.exe PE32 console --cc i686-w64-mingw32-gcc-posix
check "one calling a Windows 8 function fails it, naming the function" \
    fails_with "Windows.7.*CreateFile2" pe image win8-32.exe PE32 console --cc i686-w64-mingw32-gcc-posix
check "... and, 64-bit, one the headers give no version guard" fails_with "GetSystemTimePrecise" \
    pe image precise64.exe PE32+ console --cc x86_64-w64-mingw32-gcc-posix
check "a program with vipcard.exe's resources passes" pe check vipcard.exe 1.2 Card
check "... and fails as another version or product" \
    fails_with "1.3.0.0 FileVersion ProductName" pe check vipcard.exe 1.3 Other
check "a program without them fails, naming each" \
    fails_with "IDI_ICON1 1.2.0.0 CompanyName manifest dpiAware" pe check gui32.exe 1.2 Card
check_totals
