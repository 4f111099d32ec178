#!/usr/bin/env bash
# The Windows builds, made here with Debian's MinGW-w64 cross compilers, a static Qt built
# once per architecture from Debian's qtbase source package, and Wine.
#
#   scripts/windows.sh build      the shipped 32-bit build in build-win32/ (vipcard.exe,
#                                 cloudpost.exe, every test compiled), warning-free
#   scripts/windows.sh test       the same sources for 64-bit Windows in build-win64/, every
#                                 unit and widget test, the end-to-end test and the installer's
#                                 test run under Wine (extra arguments go to ctest); first the
#                                 32-bit build too when its Qt is built (or LESSA_WIN32=1)
#   scripts/windows.sh run        build-win64/vipcard.exe under Wine, as ./run starts the
#                                 Linux build (a screenshot when there is no display)
#   scripts/windows.sh api-check  fails on any use of Qt API newer than 5.9 without a guard
#   scripts/windows.sh installer  build, then build-win32/vipcard.msi
#   scripts/windows.sh qt         only the one-time Qt builds
#
# Why two architectures: the product is a 32-bit executable, but Wine runs 32-bit code only
# where the kernel executes i386 user code, which machines like ours do not (execve answers
# ENOEXEC). The 32-bit build is compiled, linked and inspected; the 64-bit build of the same
# sources, with the same Windows code paths, is what runs under Wine.
set -euo pipefail
LESSA_ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
source "$LESSA_ROOT/scripts/ensure-deps.sh"
source "$LESSA_ROOT/scripts/xvfb.sh"
source "$LESSA_ROOT/scripts/sign.sh"

# Fixed paths: Qt's .prl files and CMake packages name absolute paths.
LESSA_WIN_CACHE=${LESSA_WIN_CACHE:-/opt/lessa}
LESSA_WIN_SRC=/var/cache/lessa/qtbase-src
LESSA_WIN_PACKAGES=(g++-mingw-w64-i686-posix mingw-w64-i686-dev g++-mingw-w64-x86-64-posix
    mingw-w64-x86-64-dev binutils-mingw-w64-i686 binutils-mingw-w64-x86-64 wine64 cmake
    ninja-build make python3 perl dpkg-dev xvfb xauth x11-utils xdotool xcompmgr fluxbox
    imagemagick fonts-wqy-microhei wixl msitools osslsigncode)

lessa_sudo() {
    if [[ $(id -u) -ne 0 ]]; then sudo "$@"; else "$@"; fi
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
# apt-get source finds qtbase.
lessa_win_deb_src() {
    local list=/etc/apt/sources.list.d/lessa-deb-src.sources
    [[ -e $list ]] && return
    local source_file
    for source_file in /etc/apt/sources.list.d/*.sources; do
        [[ -f $source_file && $source_file != "$list" ]] || continue
        grep -q '^URIs:.*debian' "$source_file" || continue
        sed -e 's/^Types:.*/Types: deb-src/' "$source_file"
        echo
    done | lessa_sudo tee "$list.tmp" >/dev/null
    if [[ -f /etc/apt/sources.list ]]; then
        sed -n 's/^deb \(\[[^]]*\] \)\?\(.*debian.*\)/deb-src \1\2/p' /etc/apt/sources.list |
            lessa_sudo tee /etc/apt/sources.list.d/lessa-deb-src.list >/dev/null
    fi
    lessa_sudo mv "$list.tmp" "$list"
    lessa_sudo apt-get update -qq
}

lessa_win_qt_source() {
    local src
    src=$(find "$LESSA_WIN_SRC" -mindepth 1 -maxdepth 1 -type d -name 'qtbase-*' 2>/dev/null |
        head -1)
    if [[ -z $src || ! -e $src/.lessa-patched ]]; then
        lessa_win_deb_src
        lessa_sudo rm -rf "$LESSA_WIN_SRC"
        lessa_sudo mkdir -p "$LESSA_WIN_SRC"
        lessa_sudo chown "$(id -u):$(id -g)" "$LESSA_WIN_SRC"
        (cd "$LESSA_WIN_SRC" && apt-get source -qq qtbase-opensource-src >/dev/null 2>&1) ||
            { echo "error: apt-get source qtbase-opensource-src failed" >&2; return 1; }
        src=$(find "$LESSA_WIN_SRC" -mindepth 1 -maxdepth 1 -type d -name 'qtbase-*' | head -1)
        # MinGW's import libraries are lower case; Qt's Schannel link line is not.
        sed -i -e 's/-lSecur32/-lsecur32/g; s/-lCrypt32/-lcrypt32/g; s/-lNcrypt/-lncrypt/g' \
            "$src/src/network/ssl/ssl.pri"
        touch "$src/.lessa-patched"
    fi
    echo "$src"
}

# lessa_win_qt_prefix ARCH: where the static Qt for i686 or x86_64 lives.
lessa_win_qt_prefix() {
    case $1 in
    i686) echo "$LESSA_WIN_CACHE/qt5-win32-static" ;;
    x86_64) echo "$LESSA_WIN_CACHE/qt5-win64-static" ;;
    esac
}

lessa_win_qt() {
    local arch=$1 prefix
    prefix=$(lessa_win_qt_prefix "$arch")
    [[ -x $prefix/bin/qmake && -e $prefix/.complete ]] && return
    echo "== Building a static Qt for $arch Windows into $prefix:" \
        "a one-time build of about twenty minutes"
    local started=$SECONDS src
    src=$(lessa_win_qt_source)
    local build="$LESSA_WIN_SRC/build-$arch"
    rm -rf "$build"
    mkdir -p "$build"
    lessa_sudo mkdir -p "$prefix"
    lessa_sudo chown "$(id -u):$(id -g)" "$prefix"
    (
        cd "$build"
        "$src/configure" -prefix "$prefix" -xplatform win32-g++ \
            -device-option CROSS_COMPILE="$arch-w64-mingw32-" -platform linux-g++ \
            -release -opensource -confirm-license -nomake examples -nomake tests \
            -static -static-runtime -no-opengl -no-vulkan -no-direct2d -qt-zlib -qt-libpng \
            -qt-libjpeg -qt-freetype -qt-pcre -qt-harfbuzz -no-dbus -no-icu -no-fontconfig \
            -schannel -no-openssl -no-feature-tabletevent -no-feature-sql -no-feature-xml \
            -no-feature-concurrent -no-feature-printer >configure.log 2>&1 ||
            { tail -40 configure.log; exit 1; }
        make -j"$(nproc)" >make.log 2>&1 || { grep -m20 -B5 'Error\|error:' make.log; exit 1; }
        make install >install.log 2>&1 || { tail -40 install.log; exit 1; }
    )
    basename "$src" >"$prefix/.complete"
    rm -rf "$build"
    echo "Qt for $arch Windows built in $((SECONDS - started)) s"
}

# lessa_win_cmake ARCH BUILD_DIR [targets...]
lessa_win_cmake() {
    local arch=$1 build_dir=$2
    shift 2
    local targets=()
    local target
    for target in "$@"; do targets+=(--target "$target"); done
    cmake -S "$LESSA_ROOT" -B "$build_dir" -G Ninja \
        -DCMAKE_TOOLCHAIN_FILE="$LESSA_ROOT/cmake/$arch-w64-mingw32.cmake" \
        -DCMAKE_PREFIX_PATH="$(lessa_win_qt_prefix "$arch")" -DCMAKE_BUILD_TYPE=Release \
        -DLESSA_WERROR=ON >/dev/null
    cmake --build "$build_dir" "${targets[@]}" -- -j"$(nproc)"
}

# The shipped executables: 32-bit PE files that import only Windows' own DLLs (no C++ runtime,
# no Qt DLL), vipcard.exe a GUI program with its icon, version information and manifest.
lessa_win_inspect() {
    local build_dir=$1 exe
    for exe in "$build_dir/vipcard.exe" "$build_dir/cloudpost.exe"; do
        local headers dlls
        headers=$(i686-w64-mingw32-objdump -p "$exe")
        grep -q 'file format pei-i386' <<<"$headers" ||
            { echo "error: $exe is not a 32-bit PE executable" >&2; return 1; }
        dlls=$(sed -n 's/^\tDLL Name: //p' <<<"$headers" | sort -f | tr '\n' ' ')
        if grep -qiE '(^| )(lib|qt5)[^ ]*\.dll' <<<"$dlls"; then
            echo "error: $(basename "$exe") needs DLLs that Windows does not ship: $dlls" >&2
            return 1
        fi
        printf '%s: PE32, %s bytes, imports %s\n' "$(basename "$exe")" "$(stat -c %s "$exe")" \
            "$dlls"
    done
    local subsystem
    subsystem=$(i686-w64-mingw32-objdump -p "$build_dir/vipcard.exe" | sed -n 's/^Subsystem\s*//p')
    [[ $subsystem == *"(Windows GUI)"* ]] ||
        { echo "error: vipcard.exe is not a GUI executable: $subsystem" >&2; return 1; }
    # Its icon, version information and manifest, read back from the .rsrc section.
    python3 "$LESSA_ROOT/scripts/pe-resources.py" check "$build_dir/vipcard.exe" \
        "$(lessa_project_version)" ||
        { echo "error: vipcard.exe lacks the resources above" >&2; return 1; }
}

lessa_win_build() {
    lessa_win_deps
    lessa_win_qt i686
    echo "== 32-bit Windows build in build-win32/"
    lessa_win_cmake i686 "$LESSA_ROOT/build-win32"
    lessa_win_sign "$LESSA_ROOT/build-win32/vipcard.exe"
    lessa_win_inspect "$LESSA_ROOT/build-win32"
}

lessa_win64_build() {
    lessa_win_deps
    lessa_win_qt x86_64
    echo "== 64-bit Windows build in build-win64/ (to run under Wine)"
    lessa_win_cmake x86_64 "$LESSA_ROOT/build-win64"
}

lessa_win_test() {
    # Each Qt takes some half an hour of two cores to build: the 32-bit one, which only the
    # compile-and-link check needs, is built here only on request, and used when it exists.
    local win32=0
    if [[ ${LESSA_WIN32:-0} == 1 || -e $(lessa_win_qt_prefix i686)/.complete ]]; then
        win32=1
        lessa_win_build
    else
        echo "== 32-bit Windows build skipped: its Qt is not built here" \
            "(scripts/windows.sh build, or LESSA_WIN32=1, builds it)"
    fi
    lessa_win64_build
    export LC_ALL=C.UTF-8 LANG=C.UTF-8
    export WINEPREFIX="$LESSA_ROOT/build-win64/wineprefix"
    lessa_start_xvfb +extension Composite
    trap 'kill "$LESSA_XVFB_PID" 2>/dev/null; "$LESSA_ROOT/scripts/wine-run.sh" --stop' EXIT
    "$LESSA_ROOT/scripts/wine-run.sh" --prepare
    local failed=0
    (cd "$LESSA_ROOT/build-win64" && ctest --output-on-failure "$@") || failed=1

    echo "== End-to-end test of the Windows build under Wine (fluxbox, xcompmgr)"
    # The driver is the Linux build of the end-to-end test.
    lessa_ensure_deps
    lessa_build "$LESSA_ROOT/build" --target TestEndToEnd >/dev/null
    fluxbox >/dev/null 2>&1 &
    local wm=$!
    xcompmgr >/dev/null 2>&1 &
    local compositor=$!
    sleep 0.5
    LESSA_E2E_WINE="$LESSA_ROOT/scripts/wine-run.sh" \
        LESSA_E2E_EXE="$LESSA_ROOT/build-win64/vipcard.exe" \
        LESSA_E2E_CLIENT="$LESSA_ROOT/build-win64/tests/ui/shell_recorder.exe" \
        LESSA_E2E_PROBE="$LESSA_ROOT/build-win64/tests/e2e/stacking_probe.exe" \
        LESSA_E2E_ARTIFACTS="$LESSA_ROOT/build-win64/artifacts/e2e" \
        "$LESSA_ROOT/build/tests/e2e/TestEndToEnd" || failed=1
    lessa_win_e2e_desktop "$LESSA_ROOT/build-win64" "$LESSA_ROOT/scripts/wine-run.sh" || failed=1

    echo "== The installer under Wine: silent install, upgrade, shortcut, start, uninstall"
    # The shipped MSI holds the 32-bit program; the one tested here the 64-bit build of it,
    # which Wine can run on this machine, in the same package.
    if ((win32)); then
        lessa_win_installer "$LESSA_ROOT/build-win32" "$LESSA_ROOT/build-win32/vipcard.msi"
    fi
    local version
    version=$(lessa_project_version)
    lessa_win_installer "$LESSA_ROOT/build-win64" "$LESSA_ROOT/build-win64/vipcard-older.msi" 0.9
    lessa_win_installer "$LESSA_ROOT/build-win64" "$LESSA_ROOT/build-win64/vipcard.msi"
    "$LESSA_ROOT/tests/installer/test-installer.sh" "$LESSA_ROOT/build-win64/vipcard-older.msi" \
        "$LESSA_ROOT/build-win64/vipcard.msi" "$version" \
        "$LESSA_ROOT/build-win64/artifacts/installer" || failed=1
    kill "$compositor" "$wm" 2>/dev/null
    return $failed
}

# lessa_win_e2e_desktop BUILD_DIR RUNNER [TEST ARGS...]: the end-to-end test of
# BUILD_DIR/vipcard.exe, run by RUNNER (the Wine runner), in a Wine virtual desktop: no X window manager takes part, Wine
# stacks and draws the windows by Win32's rules in one X window, and the test gives pointer
# input and takes screenshots there. Its own X server, and its own prefix (which alone holds the
# desktop setting, and whose Wine server starts on that X server), keep it apart from the runs
# with fluxbox.
lessa_win_e2e_desktop() {
    local build_dir=$1 runner=$2
    shift 2
    echo "== End-to-end test of the Windows build in a Wine virtual desktop (Win32 stacking)"
    lessa_ensure_deps
    lessa_build "$LESSA_ROOT/build" --target TestEndToEnd >/dev/null
    (
        export WINEPREFIX="$build_dir/wineprefix-desktop"
        lessa_start_xvfb || exit 1
        trap 'kill "$LESSA_XVFB_PID" 2>/dev/null; "$runner" --stop' EXIT
        "$runner" --prepare
        "$runner" reg add 'HKCU\Software\Wine\Explorer' /v Desktop /d Default /f >/dev/null
        "$runner" reg add 'HKCU\Software\Wine\Explorer\Desktops' /v Default /d 1200x960 /f \
            >/dev/null
        LESSA_E2E_WINE="$runner" LESSA_E2E_EXE="$build_dir/vipcard.exe" \
            LESSA_E2E_CLIENT="$build_dir/tests/ui/shell_recorder.exe" \
            LESSA_E2E_PROBE="$build_dir/tests/e2e/stacking_probe.exe" LESSA_E2E_DESKTOP=Default \
            LESSA_E2E_ARTIFACTS="$build_dir/artifacts/e2e-desktop" \
            "$LESSA_ROOT/build/tests/e2e/TestEndToEnd" "$@"
    )
}

lessa_win_run() {
    lessa_win64_build
    export WINEPREFIX="$LESSA_ROOT/build-win64/wineprefix"
    cd "$LESSA_ROOT/build-win64"
    if [[ -n "${DISPLAY:-}" ]]; then
        "$LESSA_ROOT/scripts/wine-run.sh" --prepare
        exec "$LESSA_ROOT/scripts/wine-run.sh" ./vipcard.exe "$@"
    fi
    local screenshot="$LESSA_ROOT/build-win64/screenshot.png"
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

# lessa_win_installer BUILD_DIR OUTPUT.msi [VERSION]: the MSI of the vipcard.exe in BUILD_DIR.
lessa_win_installer() {
    local build_dir=$1 output=$2 version=${3:-}
    [[ -n $version ]] || version=$(lessa_project_version)
    local stage="$build_dir/installer-stage"
    rm -rf "$stage"
    mkdir -p "$stage/bin" "$stage/mainqss"
    cp "$build_dir/vipcard.exe" "$stage/bin/"
    cp -r "$LESSA_ROOT/images" "$stage/"
    cp "$LESSA_ROOT/mainqss/main.qss" "$stage/mainqss/"
    cp "$LESSA_ROOT/images/vipcard.ico" "$stage/"
    # wixl finds the files relative to its working directory.
    (cd "$stage" && wixl -a x86 -D Version="$version" -o "$output" \
        "$LESSA_ROOT/installer/vipcard.wxs")
    python3 "$LESSA_ROOT/installer/finish-msi.py" "$output"
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
    lessa_win_installer "$LESSA_ROOT/build-win32" "$LESSA_ROOT/build-win32/vipcard.msi"
    lessa_win_sign "$LESSA_ROOT/build-win32/vipcard.msi"
    echo "$LESSA_ROOT/build-win32/vipcard.msi: $(stat -c %s "$LESSA_ROOT/build-win32/vipcard.msi") bytes"
    ;;
api-check) lessa_win_api_check ;;
test) lessa_win_test "$@" ;;
run) lessa_win_run "$@" ;;
*)
    echo "usage: $0 build|test|run|installer|api-check|qt" >&2
    exit 2
    ;;
esac
