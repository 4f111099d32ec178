#!/usr/bin/env bash
# The Windows builds, made here with Debian's MinGW-w64 cross compilers, a static Qt built
# once per architecture from Debian's qtbase source package, and Wine.
#
#   scripts/windows.sh build      the shipped 32-bit build in build-win32/ (vipcard.exe,
#                                 cloudpost.exe, every test compiled), warning-free
#   scripts/windows.sh test       every unit and widget test, the end-to-end test and the
#                                 installer's test under Wine (extra arguments go to ctest), on
#                                 the 32-bit build where this machine runs 32-bit code, else on
#                                 the same sources built for 64-bit Windows in build-win64/
#   scripts/windows.sh run        that build's vipcard.exe under Wine, as ./run starts the
#                                 Linux build (a screenshot when there is no display)
#   scripts/windows.sh api-check  fails on any use of Qt API newer than 5.9 without a guard
#   scripts/windows.sh installer  build, then build-win32/vipcard.msi (the msi target)
#   scripts/windows.sh qt         only the one-time Qt builds
# The builds are the win32 and win64 presets of CMakePresets.json; `ctest --preset win32 -L
# windows` runs the executables' checks alone.
#
# Why two architectures: the product is a 32-bit executable, but Wine runs 32-bit code only
# where the kernel executes i386 user code, which some machines do not (execve answers
# ENOEXEC). There the 32-bit build is compiled, linked and inspected, and the 64-bit build of
# the same sources, with the same Windows code paths, is what runs under Wine. Both run in a
# 64-bit (WoW64) prefix, as on 64-bit Windows; scripts/wine-run.sh picks Wine's loader.
set -euo pipefail
# Command substitutions stop at a failure too.
shopt -s inherit_errexit
LESSA_ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
source "$LESSA_ROOT/scripts/ensure-deps.sh"
source "$LESSA_ROOT/scripts/xvfb.sh"
source "$LESSA_ROOT/scripts/sign.sh"

# Fixed paths: Qt's .prl files and CMake packages name absolute paths.
LESSA_WIN_CACHE=/opt/lessa
LESSA_WIN_SRC=/var/cache/lessa/qtbase-src
LESSA_WIN_LOCKS=/run/lock
[[ -d $LESSA_WIN_LOCKS ]] || LESSA_WIN_LOCKS=/tmp
LESSA_WIN_PACKAGES=(g++-mingw-w64-i686-posix mingw-w64-i686-dev g++-mingw-w64-x86-64-posix
    mingw-w64-x86-64-dev binutils-mingw-w64-i686 binutils-mingw-w64-x86-64 wine64 cmake
    ninja-build make python3 perl dpkg-dev xvfb xauth x11-utils xdotool xcompmgr fluxbox
    imagemagick fonts-wqy-microhei wixl msitools osslsigncode)

lessa_sudo() {
    if [[ $(id -u) -ne 0 ]]; then sudo "$@"; else "$@"; fi
}

# lessa_mounted_below PATH: whether anything is mounted on or below PATH, which rm must never
# reach through.
lessa_mounted_below() {
    local target
    while read -r target; do
        [[ $target == "$1" || $target == "$1"/* ]] && return 0
    done < <(findmnt -rn -o TARGET)
    return 1
}

# lessa_win_lock [-s] NAME COMMAND...: COMMAND under a lock that every run on this machine shares
# (-s: shared with other -s holders), so that two runs never build into the same folders.
lessa_win_lock() {
    local mode=-x
    [[ $1 == -s ]] && mode=-s && shift
    local lock=$LESSA_WIN_LOCKS/lessa-$1.lock
    shift
    [[ -e $lock ]] || : >>"$lock"
    (
        if ! flock -n "$mode" 9; then
            echo "== Waiting for another run to release $lock" >&2
            flock "$mode" 9 || exit 1
        fi
        "$@"
    ) 9<"$lock"
}

lessa_win_deps() {
    local missing=() package
    for package in "${LESSA_WIN_PACKAGES[@]}"; do
        dpkg -s "$package" >/dev/null 2>&1 || missing+=("$package")
    done
    if ((${#missing[@]})); then
        echo "Installing: ${missing[*]}"
        lessa_sudo apt-get update -qq
        lessa_apt_install "${missing[@]}"
    fi
    # The MinGW compilers default to the win32 thread model, which lacks std::thread.
    local triplet tool
    for triplet in i686-w64-mingw32 x86_64-w64-mingw32; do
        for tool in gcc g++; do
            if [[ $(readlink -f "/usr/bin/$triplet-$tool") != *posix ]]; then
                lessa_sudo update-alternatives --set "$triplet-$tool" \
                    "/usr/bin/$triplet-$tool-posix" >/dev/null
            fi
        done
    done
}

# Adds deb-src entries for the Debian registry this machine already uses, so that
# apt-get source finds qtbase. Done when apt knows the source package, not when the entries
# exist: a failed apt-get update is tried again by the next run. Only Debian's own archive is
# copied (a host below debian.org, or signed by Debian's archive key; a mirror of any name
# is), never another vendor's repository that merely has "debian" in its address, and the
# entries go again when the update fails, so that they cannot break apt for the machine.
lessa_win_deb_src() {
    [[ $(apt-cache showsrc qtbase-opensource-src 2>/dev/null) == *'Package: qtbase'* ]] && return
    local list=/etc/apt/sources.list.d/lessa-deb-src.sources
    local one_line=/etc/apt/sources.list.d/lessa-deb-src.list
    local source_file
    for source_file in /etc/apt/sources.list.d/*.sources; do
        [[ -f $source_file && $source_file != "$list" ]] || continue
        grep -qE '^URIs:.*://[^/ ]*debian\.org(/| |$)|^Signed-By:.*debian-archive-keyring' \
            "$source_file" || continue
        sed -e 's/^Types:.*/Types: deb-src/' "$source_file"
        echo
    done | lessa_sudo tee "$list.tmp" >/dev/null || return 1
    if [[ -f /etc/apt/sources.list ]]; then
        # One-line entries: Debian's own hosts, or signed by Debian's archive key.
        local host='[a-z]+://[^/ ]*debian\.org[/ ]' key='\[[^]]*debian-archive-keyring[^]]*\] '
        { grep -E "^deb ($key|(\[[^]]*\] )?$host)" /etc/apt/sources.list || true; } |
            sed 's/^deb /deb-src /' | lessa_sudo tee "$one_line" >/dev/null || return 1
    fi
    lessa_sudo mv "$list.tmp" "$list" || return 1
    if ! lessa_sudo apt-get update -qq; then
        lessa_sudo rm -f "$list" "$one_line"
        lessa_sudo apt-get update -qq
        echo "error: apt-get update failed with deb-src entries for Debian's archive; they are" \
            "removed again" >&2
        return 1
    fi
}

# Prints the folder of Qt's patched source, fetching it first when there is none.
lessa_win_qt_source() {
    local src
    if ! src=$(lessa_win_qt_source_dir); then
        lessa_win_lock qt-source lessa_win_qt_fetch >&2 || return 1
        src=$(lessa_win_qt_source_dir) || return 1
    fi
    echo "$src"
}

# The patched source folder; fails when there is none.
lessa_win_qt_source_dir() {
    local src
    src=$(find "$LESSA_WIN_SRC" -mindepth 1 -maxdepth 1 -type d -name 'qtbase-*' 2>/dev/null |
        head -1) || true
    [[ -n $src && -e $src/.lessa-patched ]] && echo "$src"
}

# Under the qt-source lock: apt-get source, then the patch.
lessa_win_qt_fetch() {
    lessa_win_qt_source_dir >/dev/null && return
    lessa_win_deb_src || return 1
    lessa_sudo rm -rf --one-file-system "$LESSA_WIN_SRC" || return 1
    lessa_sudo mkdir -p "$LESSA_WIN_SRC" || return 1
    lessa_sudo chown "$(id -u):$(id -g)" "$LESSA_WIN_SRC" || return 1
    (cd "$LESSA_WIN_SRC" && apt-get source -qq qtbase-opensource-src >apt-source.log 2>&1) || {
        tail -20 "$LESSA_WIN_SRC/apt-source.log"
        echo "error: apt-get source qtbase-opensource-src failed" >&2
        return 1
    }
    local src
    src=$(find "$LESSA_WIN_SRC" -mindepth 1 -maxdepth 1 -type d -name 'qtbase-*' | head -1)
    [[ -n $src ]] || { echo "error: apt-get source left no qtbase-* folder" >&2; return 1; }
    lessa_win_qt_patch "$src"
}

# lessa_win_qt_patch SRC: marks SRC patched only when the patch took.
lessa_win_qt_patch() {
    local pri=$1/src/network/ssl/ssl.pri
    # MinGW's import libraries are lower case; Qt's Schannel link line is not.
    sed -i -e 's/-lSecur32/-lsecur32/g; s/-lCrypt32/-lcrypt32/g; s/-lNcrypt/-lncrypt/g' "$pri" &&
        grep -q -e '-lsecur32' "$pri" && ! grep -q -e '-lSecur32\|-lCrypt32\|-lNcrypt' "$pri" ||
        { echo "error: patching $pri failed" >&2; return 1; }
    touch "$1/.lessa-patched"
}

# lessa_win_qt_prefix ARCH: where the static Qt for i686 or x86_64 lives.
lessa_win_qt_prefix() {
    case $1 in
    i686) echo "$LESSA_WIN_CACHE/qt5-win32-static" ;;
    x86_64) echo "$LESSA_WIN_CACHE/qt5-win64-static" ;;
    esac
}

# lessa_win_qt_configure_args ARCH PREFIX: Qt's configure line, one argument a line.
lessa_win_qt_configure_args() {
    printf '%s\n' -prefix "$2" -xplatform win32-g++ \
        -device-option CROSS_COMPILE="$1-w64-mingw32-" -platform linux-g++ \
        -release -opensource -confirm-license -nomake examples -nomake tests \
        -static -static-runtime -no-opengl -no-vulkan -no-direct2d -qt-zlib -qt-libpng \
        -qt-libjpeg -qt-freetype -qt-pcre -qt-harfbuzz -no-dbus -no-icu -no-fontconfig \
        -schannel -no-openssl -no-feature-tabletevent -no-feature-sql -no-feature-xml \
        -no-feature-concurrent -no-feature-printer
}

# lessa_win_qt_stamp ARCH SRC: what a built Qt's .complete holds: the source folder, its Debian
# version, and the configure line.
lessa_win_qt_stamp() {
    local version
    version=$(sed -n '1s/^[^ ]* (\([^)]*\)).*/\1/p' "$2/debian/changelog")
    echo "$(basename "$2") $version"
    lessa_win_qt_configure_args "$1" "$(lessa_win_qt_prefix "$1")" | tr '\n' ' '
    echo
}

# The sha256 of the configure line (lessa_win_qt_configure_args @ARCH@ @PREFIX@) of the Qts
# built before .complete recorded it, when it held only the source folder's name.
LESSA_WIN_QT_LEGACY_CONFIGURE=63e64ad7abe8f859367d0cf2eaa0fdcd94e8f4948032cadec799a41f6669d679

# lessa_win_qt_current ARCH: whether the built Qt is there and made from today's source with
# today's configure line.
lessa_win_qt_current() {
    local prefix src marker
    prefix=$(lessa_win_qt_prefix "$1")
    [[ -x $prefix/bin/qmake && -f $prefix/.complete ]] || return 1
    src=$(lessa_win_qt_source) || return 1
    marker=$(<"$prefix/.complete")
    [[ $marker == "$(lessa_win_qt_stamp "$1" "$src")" ]] && return
    [[ $marker == "$(basename "$src")" &&
        $(lessa_win_qt_configure_args @ARCH@ @PREFIX@ | sha256sum) == \
        "$LESSA_WIN_QT_LEGACY_CONFIGURE  -" ]]
}

lessa_win_qt() {
    lessa_win_qt_current "$1" && return
    lessa_win_lock "qt-$1" lessa_win_qt_build "$1"
}

# Under the qt-ARCH lock, holding the source shared; an older Qt in the prefix is replaced.
lessa_win_qt_build() {
    local arch=$1 prefix src
    prefix=$(lessa_win_qt_prefix "$arch")
    lessa_win_qt_current "$arch" && return
    src=$(lessa_win_qt_source) || return 1
    echo "== Building a static Qt for $arch Windows into $prefix:" \
        "a one-time build of 13 to 30 minutes on two cores"
    local started=$SECONDS
    local build="$LESSA_WIN_SRC/build-$arch"
    if [[ -f $prefix/.complete ]]; then
        ! lessa_mounted_below "$prefix" ||
            { echo "error: something is mounted below $prefix" >&2; return 1; }
        lessa_sudo rm -rf --one-file-system "$prefix" || return 1
    fi
    rm -rf --one-file-system "$build" && mkdir -p "$build" || return 1
    lessa_sudo mkdir -p "$prefix" && lessa_sudo chown "$(id -u):$(id -g)" "$prefix" || return 1
    local configure
    mapfile -t configure < <(lessa_win_qt_configure_args "$arch" "$prefix")
    lessa_win_lock -s qt-source bash -c '
        cd "$1" || exit 1
        shift
        "$@" >configure.log 2>&1 || { tail -40 configure.log; exit 1; }
        make -j"$(nproc)" >make.log 2>&1 || { grep -m20 -B5 "Error\|error:" make.log; exit 1; }
        make install >install.log 2>&1 || { tail -40 install.log; exit 1; }
    ' qt-build "$build" "$src/configure" "${configure[@]}" || return 1
    lessa_win_qt_stamp "$arch" "$src" >"$prefix/.complete" || return 1
    rm -rf --one-file-system "$build"
    echo "Qt for $arch Windows built in $((SECONDS - started)) s"
}

# lessa_win_inspect PRESET: the shipped executables' checks (ctest label windows): 32-bit PE
# files (PE32+ in the 64-bit build) that import only Windows' own DLLs (no C++ runtime, no Qt
# DLL), vipcard.exe a GUI program with its icon, version information and manifest.
lessa_win_inspect() {
    (cd "$LESSA_ROOT" && ctest --preset "$1" -L windows)
}

lessa_win_build() {
    lessa_win_deps
    lessa_win_qt i686
    echo "== 32-bit Windows build in build-win32/"
    lessa_build win32
    lessa_win_sign "$LESSA_ROOT/build-win32/vipcard.exe"
    lessa_win_inspect win32
}

lessa_win64_build() {
    lessa_win_deps
    lessa_win_qt x86_64
    echo "== 64-bit Windows build in build-win64/ (to run under Wine)"
    lessa_build win64
}

# Whether this machine executes 32-bit x86 code: a 93-byte i386 Linux program that only exits 0
# (an ELF header, one program header, xor ebx,ebx; mov eax,1; int 0x80).
lessa_win_runs_i386() {
    local folder probe status=0
    folder=$(mktemp -d "$LESSA_ROOT/build-i386-probe.XXXXXX")
    probe=$folder/exit0
    {
        printf '\x7fELF\x01\x01\x01\0\0\0\0\0\0\0\0\0\x02\0\x03\0\x01\0\0\0\x54\x80\x04\x08'
        printf '\x34\0\0\0\0\0\0\0\0\0\0\0\x34\0\x20\0\x01\0\0\0\0\0\0\0\x01\0\0\0\0\0\0\0'
        printf '\0\x80\x04\x08\0\x80\x04\x08\x5d\0\0\0\x5d\0\0\0\x05\0\0\0\0\x10\0\0'
        printf '\x31\xdb\xb8\x01\0\0\0\xcd\x80'
    } >"$probe"
    chmod +x "$probe"
    "$probe" 2>/dev/null || status=$?
    rm -rf --one-file-system "$folder"
    return $status
}

# Wine's 32-bit loader, from Debian's i386 architecture.
lessa_win_wine32() {
    dpkg -s wine32:i386 >/dev/null 2>&1 && return
    echo "Installing: wine32:i386 (Wine's 32-bit loader)"
    [[ $(dpkg --print-foreign-architectures) == *i386* ]] || lessa_sudo dpkg --add-architecture i386
    lessa_sudo apt-get update -qq
    lessa_apt_install wine32:i386
}

# Sets LESSA_WIN_ARCH, the build that runs under Wine here: the shipped 32-bit one (i686,
# build-win32/) wherever this machine runs 32-bit code, else the 64-bit one (x86_64,
# build-win64/). The two share every step but the build folder, the Qt and Wine's loader.
lessa_win_choose_arch() {
    # LESSA_WIN_ARCH=x86_64 tests the 64-bit build even where 32-bit code runs (the path that
    # machines without 32-bit support take).
    if [[ ${LESSA_WIN_ARCH:-} == x86_64 ]]; then
        echo "== LESSA_WIN_ARCH=x86_64: Wine runs the 64-bit build of the same sources"
    elif [[ -n ${LESSA_WIN_ARCH:-} && $LESSA_WIN_ARCH != i686 ]]; then
        echo "error: LESSA_WIN_ARCH must be i686 or x86_64, not $LESSA_WIN_ARCH" >&2
        return 2
    elif lessa_win_runs_i386; then
        LESSA_WIN_ARCH=i686
        lessa_win_wine32
    else
        LESSA_WIN_ARCH=x86_64
        echo "== This machine runs no 32-bit code: Wine runs the 64-bit build of the same sources"
    fi
}

# lessa_win_preset ARCH: the presets of the build for ARCH, which builds in build-PRESET/.
lessa_win_preset() {
    case $1 in
    i686) echo win32 ;;
    x86_64) echo win64 ;;
    esac
}

lessa_win_test() {
    lessa_win_choose_arch
    local preset build_dir win32=0
    preset=$(lessa_win_preset "$LESSA_WIN_ARCH")
    build_dir=$LESSA_ROOT/build-$preset
    if [[ $LESSA_WIN_ARCH == i686 ]]; then
        win32=1
        lessa_win_build
    else
        # Each Qt takes 13 to 30 minutes of two cores to build: the 32-bit one, which only the
        # compile-and-link check needs here, is built only on request, and used when it exists.
        if [[ ${LESSA_WIN32:-0} == 1 || -e $(lessa_win_qt_prefix i686)/.complete ]]; then
            win32=1
            lessa_win_build
        else
            echo "== 32-bit Windows build skipped: its Qt is not built here" \
                "(scripts/windows.sh build, or LESSA_WIN32=1, builds it)"
        fi
        lessa_win64_build
    fi
    local tested="the ${build_dir##*-win}-bit build in ${build_dir##*/}/"
    echo "== Windows tests under Wine on $tested"
    export LC_ALL=C.UTF-8 LANG=C.UTF-8
    export WINEPREFIX="$build_dir/wineprefix"
    lessa_start_xvfb +extension Composite
    trap 'kill "$LESSA_XVFB_PID" ${LESSA_WIN_WM:-} 2>/dev/null
        "$LESSA_ROOT/scripts/wine-run.sh" --stop' EXIT
    "$LESSA_ROOT/scripts/wine-run.sh" --prepare
    local failed=0
    (cd "$LESSA_ROOT" && ctest --preset "$preset" "$@") || failed=1

    echo "== End-to-end test of the Windows build under Wine (fluxbox, xcompmgr)"
    # The driver is the Linux build of the end-to-end test.
    lessa_ensure_deps
    lessa_build default --target TestEndToEnd >/dev/null
    fluxbox >/dev/null 2>&1 &
    LESSA_WIN_WM=$!
    xcompmgr >/dev/null 2>&1 &
    LESSA_WIN_WM+=" $!"
    sleep 0.5
    LESSA_E2E_WINE="$LESSA_ROOT/scripts/wine-run.sh" \
        LESSA_E2E_EXE="$build_dir/vipcard.exe" \
        LESSA_E2E_CLIENT="$build_dir/tests/ui/shell_recorder.exe" \
        LESSA_E2E_PROBE="$build_dir/tests/e2e/stacking_probe.exe" \
        LESSA_E2E_ARTIFACTS="$build_dir/artifacts/e2e" \
        "$LESSA_ROOT/build/tests/e2e/TestEndToEnd" || failed=1
    lessa_win_e2e_desktop "$build_dir" "$LESSA_ROOT/scripts/wine-run.sh" || failed=1

    echo "== The script checks that need MinGW-w64, wixl and osslsigncode (signing, PE images)"
    # ./test's first stage runs before this stage installs them, and skips these there.
    (cd "$LESSA_ROOT" &&
        ctest --preset default --output-on-failure -R 'TestScript-(signing|pe-image)') || failed=1

    echo "== The installer under Wine: silent install, upgrade, shortcut, start, uninstall"
    # The shipped MSI holds the 32-bit program; where only the 64-bit build runs, the package
    # tested holds that build instead.
    if ((win32)) && [[ $preset != win32 ]]; then
        lessa_win_installer win32 "$LESSA_ROOT/build-win32/vipcard.msi"
    fi
    local version
    version=$(lessa_project_version)
    lessa_win_installer "$preset" "$build_dir/vipcard-older.msi" 0.9
    lessa_win_installer "$preset" "$build_dir/vipcard.msi"
    "$LESSA_ROOT/tests/installer/test-installer.sh" "$build_dir/vipcard-older.msi" \
        "$build_dir/vipcard.msi" "$version" "$build_dir/artifacts/installer" || failed=1
    # Either may have ended already; that is no failure of the tests.
    kill $LESSA_WIN_WM 2>/dev/null || true
    LESSA_WIN_WM=
    echo "== The Windows tests ran on $tested"
    return $failed
}

# lessa_win_e2e_desktop BUILD_DIR RUNNER [TEST ARGS...]: the end-to-end test of
# BUILD_DIR/vipcard.exe, run by RUNNER (the Wine runner), in a Wine virtual desktop: no X window
# manager takes part, Wine stacks and draws the windows by Win32's rules in one X window, and
# the test gives pointer input and takes screenshots there. Its own X server, and its own
# prefix (which alone holds the desktop setting, and whose Wine server starts on that X
# server), keep it apart from the runs
# with fluxbox.
lessa_win_e2e_desktop() {
    local build_dir=$1 runner=$2
    shift 2
    echo "== End-to-end test of the Windows build in a Wine virtual desktop (Win32 stacking)"
    lessa_ensure_deps
    lessa_build default --target TestEndToEnd >/dev/null
    (
        export WINEPREFIX="$build_dir/wineprefix-desktop"
        lessa_start_xvfb || exit 1
        trap 'kill "$LESSA_XVFB_PID" 2>/dev/null; "$runner" --stop' EXIT
        # Called where a failure does not stop the script: each step says so itself.
        "$runner" --prepare || exit 1
        "$runner" reg add 'HKCU\Software\Wine\Explorer' /v Desktop /d Default /f >/dev/null ||
            exit 1
        "$runner" reg add 'HKCU\Software\Wine\Explorer\Desktops' /v Default /d 1200x960 /f \
            >/dev/null || exit 1
        LESSA_E2E_WINE="$runner" LESSA_E2E_EXE="$build_dir/vipcard.exe" \
            LESSA_E2E_CLIENT="$build_dir/tests/ui/shell_recorder.exe" \
            LESSA_E2E_PROBE="$build_dir/tests/e2e/stacking_probe.exe" LESSA_E2E_DESKTOP=Default \
            LESSA_E2E_ARTIFACTS="$build_dir/artifacts/e2e-desktop" \
            "$LESSA_ROOT/build/tests/e2e/TestEndToEnd" "$@"
    )
}

lessa_win_run() {
    lessa_win_choose_arch
    local build_dir
    build_dir=$LESSA_ROOT/build-$(lessa_win_preset "$LESSA_WIN_ARCH")
    if [[ $LESSA_WIN_ARCH == i686 ]]; then lessa_win_build; else lessa_win64_build; fi
    export WINEPREFIX="$build_dir/wineprefix"
    cd "$build_dir"
    if [[ -n "${DISPLAY:-}" ]]; then
        "$LESSA_ROOT/scripts/wine-run.sh" --prepare
        exec "$LESSA_ROOT/scripts/wine-run.sh" ./vipcard.exe "$@"
    fi
    local screenshot="$build_dir/screenshot.png"
    echo "No display found: running under Wine and Xvfb, saving a screenshot to $screenshot"
    export LC_ALL=C.UTF-8
    lessa_start_xvfb
    fluxbox >/dev/null 2>&1 &
    local wm=$!
    "$LESSA_ROOT/scripts/wine-run.sh" --prepare
    "$LESSA_ROOT/scripts/wine-run.sh" ./vipcard.exe "$@" &
    local app=$! window="" _
    for _ in $(seq 200); do
        window=$(xdotool search --onlyvisible --name 'Orla Nova' 2>/dev/null | head -1) &&
            [[ -n $window ]] && break
        sleep 0.1
    done
    sleep 2
    import -window "${window:-root}" "$screenshot"
    kill "$app" 2>/dev/null || true
    "$LESSA_ROOT/scripts/wine-run.sh" --stop
    kill "$wm" "$LESSA_XVFB_PID" 2>/dev/null || true
    echo "$screenshot"
}

# The version in the top-level CMakeLists.txt's project() call.
lessa_project_version() {
    sed -n 's/^project([A-Za-z]* VERSION \([0-9.]*\).*/\1/p' "$LESSA_ROOT/CMakeLists.txt"
}

# lessa_win_installer PRESET OUTPUT.msi [VERSION]: that build's msi target, the package of its
# installed layout as OUTPUT.msi, of VERSION (by default the project's). The callers build and
# sign vipcard.exe just before; the target would relink it only if a source changed since, which
# the check after it refuses: the package would hold an unsigned program.
lessa_win_installer() {
    local preset=$1 output=$2 version=${3:-} exe signed
    exe=$LESSA_ROOT/build-$preset/vipcard.exe
    signed=$(sha256sum <"$exe")
    lessa_build "$preset" -DLESSA_MSI_VERSION="$version" -DLESSA_MSI_FILE="$output" --target msi
    [[ $(sha256sum <"$exe") == "$signed" ]] ||
        { echo "error: building the MSI relinked vipcard.exe after it was signed" >&2; return 1; }
}

# Qt 5.9 is the oldest Qt the product supports; it cannot be built here, so the product's code is
# checked against the \since tags of the newer Qt's own sources.
lessa_win_api_check() {
    local src
    src=$(lessa_win_qt_source)
    python3 "$LESSA_ROOT/scripts/qt59-api-check.py" --self-test "$src" >/dev/null ||
        { echo "error: the API-level check fails its own self-test" >&2; return 1; }
    (cd "$LESSA_ROOT" && python3 scripts/qt59-api-check.py "$src" app engine ui cloud tools)
}

# Sourced (by the scripts' checks): the functions only.
[[ ${BASH_SOURCE[0]} == "$0" ]] || return 0

command=${1:-build}
shift || true
case $command in
qt)
    lessa_win_deps
    lessa_win_qt i686
    lessa_win_qt x86_64
    ;;
build) lessa_win_build ;;
installer)
    lessa_win_build
    lessa_win_installer win32 "$LESSA_ROOT/build-win32/vipcard.msi"
    lessa_win_sign "$LESSA_ROOT/build-win32/vipcard.msi"
    msi="$LESSA_ROOT/build-win32/vipcard.msi"
    echo "$msi: $(stat -c %s "$msi") bytes"
    ;;
api-check) lessa_win_api_check ;;
test) lessa_win_test "$@" ;;
run) lessa_win_run "$@" ;;
*)
    echo "usage: $0 build|test|run|installer|api-check|qt" >&2
    exit 2
    ;;
esac
