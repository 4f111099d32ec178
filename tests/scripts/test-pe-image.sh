#!/usr/bin/env bash
# The executables' check of the Windows builds (pe-resources.py image, the tests labelled
# windows there) on small programs built here: it accepts a static 32-bit GUI program, and
# refuses a console program where a GUI one is due, a 64-bit program where a 32-bit one is due
# (and the reverse), and a program that needs the MinGW C++ runtime's DLLs.
#
#   test-pe-image.sh SCRATCH_PARENT     exit 77 (skipped) when a MinGW compiler is missing
set -euo pipefail
parent=${1:?usage: test-pe-image.sh SCRATCH_PARENT}
for tool in i686-w64-mingw32-g++-posix x86_64-w64-mingw32-gcc-posix python3; do
    command -v "$tool" >/dev/null || { echo "SKIP: $tool is not installed"; exit 77; }
done
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
mkdir -p "$parent"
scratch=$(mktemp -d "$parent/pe-image.XXXXXX")
trap 'rm -rf --one-file-system "$scratch"' EXIT
cd "$scratch"

failures=0
check() {
    local what=$1
    shift
    if "$@" >check.log; then
        echo "ok: $what"
    else
        cat check.log
        echo "FAILED: $what"
        failures=$((failures + 1))
    fi
}
fails() { ! "$@"; }
image() { python3 "$root/tests/support/pe-resources.py" image "$@"; }

printf 'int main(void) { return 0; }\n' >main.c
printf '#include <iostream>\nint main() { std::cout << 1; }\n' >main.cpp
i686-w64-mingw32-gcc-posix -static -mwindows -o gui32.exe main.c
i686-w64-mingw32-gcc-posix -static -o console32.exe main.c
x86_64-w64-mingw32-gcc-posix -static -mwindows -o gui64.exe main.c
i686-w64-mingw32-g++-posix -o runtime32.exe main.cpp

check "a static 32-bit GUI program passes" image gui32.exe PE32 gui
check "a static 32-bit console program passes as one" image console32.exe PE32 console
check "a 64-bit GUI program passes as PE32+" image gui64.exe PE32+ gui
check "a console program fails as a GUI one" fails image console32.exe PE32 gui
check "a 64-bit program fails as PE32" fails image gui64.exe PE32 gui
check "a 32-bit program fails as PE32+" fails image gui32.exe PE32+ gui
check "a program needing libstdc++-6.dll fails" fails image runtime32.exe PE32 console
image runtime32.exe PE32 console >runtime32.log || true
check "... naming the DLL" grep -q 'FAIL.*libstdc++-6.dll' runtime32.log

if ((failures)); then
    echo "$failures check(s) failed"
    exit 1
fi
echo "All executable checks passed"
