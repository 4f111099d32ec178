#!/usr/bin/env bash
# The 32-bit Windows build, made here: MinGW-w64 cross compiler, a static Qt built once from
# Debian's qtbase source package, Wine to run the results.
#
#   scripts/windows.sh build      installs what is missing, builds Qt once, builds build-win32/
#   scripts/windows.sh test       build, then every unit and widget test under Wine (CTest)
#   scripts/windows.sh run        build, then start vipcard.exe under Wine (a screenshot
#                                 when there is no display)
#   scripts/windows.sh installer  build, then the MSI installer
#   scripts/windows.sh qt         only the one-time Qt build
#
# Extra arguments after test go to ctest.
set -euo pipefail
LESSA_ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
source "$LESSA_ROOT/scripts/ensure-deps.sh"
# source "$LESSA_ROOT/scripts/wine-env.sh"

# One fixed path: Qt's .prl files and its CMake package name absolute paths.
LESSA_WIN_QT=${LESSA_WIN_QT:-/opt/lessa/qt5-win32-static}
LESSA_WIN_QT_SRC=/var/cache/lessa/qt5-win32-src
LESSA_WIN_BUILD="$LESSA_ROOT/build-win32"
LESSA_WIN_PACKAGES=(g++-mingw-w64-i686-posix mingw-w64-i686-dev cmake ninja-build make
    python3 perl dpkg-dev xvfb xauth x11-utils xdotool xcompmgr fluxbox imagemagick
    fonts-wqy-microhei msitools)

lessa_win_deps() {
    local sudo=()
    [[ $(id -u) -ne 0 ]] && sudo=(sudo)
    local missing=() package
    for package in "${LESSA_WIN_PACKAGES[@]}"; do
        dpkg -s "$package" >/dev/null 2>&1 || missing+=("$package")
    done
    dpkg -s wine32:i386 >/dev/null 2>&1 || missing+=(wine wine32:i386)
    if ((${#missing[@]})); then
        if ! dpkg --print-foreign-architectures | grep -qx i386; then
            "${sudo[@]}" dpkg --add-architecture i386
        fi
        echo "Installing: ${missing[*]}"
        "${sudo[@]}" apt-get update -qq
        lessa_apt_install "${missing[@]}"
    fi
    # The MinGW compilers default to the win32 thread model, which lacks std::thread.
    local tool
    for tool in gcc g++; do
        if [[ $(readlink -f "/usr/bin/i686-w64-mingw32-$tool") != *posix ]]; then
            "${sudo[@]}" update-alternatives --set "i686-w64-mingw32-$tool" \
                "/usr/bin/i686-w64-mingw32-$tool-posix" >/dev/null
        fi
    done
}

# Adds deb-src entries for the Debian registry this machine already uses, so that
# apt-get source finds qtbase.
lessa_win_deb_src() {
    local list=/etc/apt/sources.list.d/lessa-deb-src.sources
    [[ -e $list ]] && return
    local sudo=()
    [[ $(id -u) -ne 0 ]] && sudo=(sudo)
    local source_file
    for source_file in /etc/apt/sources.list.d/*.sources; do
        grep -q '^URIs:.*debian' "$source_file" || continue
        sed -e 's/^Types:.*/Types: deb-src/' "$source_file"
        echo
    done | "${sudo[@]}" tee "$list.tmp" >/dev/null
    if [[ -f /etc/apt/sources.list ]]; then
        sed -n 's/^deb \(.*debian.*\)/deb-src \1/p' /etc/apt/sources.list |
            "${sudo[@]}" tee /etc/apt/sources.list.d/lessa-deb-src.list >/dev/null
    fi
    "${sudo[@]}" mv "$list.tmp" "$list"
    "${sudo[@]}" apt-get update -qq
}

lessa_win_qt() {
    [[ -x $LESSA_WIN_QT/bin/qmake && -e $LESSA_WIN_QT/.complete ]] && return
    echo "== Building a static Qt for 32-bit Windows into $LESSA_WIN_QT:" \
        "a one-time build of about twenty minutes"
    lessa_win_deb_src
    local started=$SECONDS
    rm -rf "$LESSA_WIN_QT_SRC"
    mkdir -p "$LESSA_WIN_QT_SRC"
    (cd "$LESSA_WIN_QT_SRC" && apt-get source -qq qtbase-opensource-src >/dev/null)
    local src
    src=$(find "$LESSA_WIN_QT_SRC" -mindepth 1 -maxdepth 1 -type d -name 'qtbase-*' | head -1)
    # MinGW's import libraries are lower case; Qt's Schannel link line is not.
    sed -i -e 's/-lSecur32/-lsecur32/g; s/-lCrypt32/-lcrypt32/g; s/-lNcrypt/-lncrypt/g' \
        "$src/src/network/ssl/ssl.pri"
    mkdir -p "$LESSA_WIN_QT_SRC/build"
    (
        cd "$LESSA_WIN_QT_SRC/build"
        "$src/configure" -prefix "$LESSA_WIN_QT" -xplatform win32-g++ \
            -device-option CROSS_COMPILE=i686-w64-mingw32- -platform linux-g++ \
            -release -opensource -confirm-license -nomake examples -nomake tests \
            -static -static-runtime -no-opengl -no-vulkan -no-direct2d -qt-zlib -qt-libpng \
            -qt-libjpeg -qt-freetype -qt-pcre -qt-harfbuzz -no-dbus -no-icu -no-fontconfig \
            -schannel -no-openssl -no-feature-tabletevent -no-feature-sql -no-feature-xml \
            -no-feature-concurrent -no-feature-printer >configure.log 2>&1 ||
            { tail -40 configure.log; exit 1; }
        make -j"$(nproc)" >make.log 2>&1 || { tail -60 make.log; exit 1; }
        make install >install.log 2>&1 || { tail -40 install.log; exit 1; }
    )
    basename "$src" >"$LESSA_WIN_QT/.complete"
    rm -rf "$LESSA_WIN_QT_SRC/build"
    echo "Qt for Windows built in $((SECONDS - started)) s"
}

lessa_win_build() {
    lessa_win_deps
    lessa_win_qt
    cmake -S "$LESSA_ROOT" -B "$LESSA_WIN_BUILD" -G Ninja \
        -DCMAKE_TOOLCHAIN_FILE="$LESSA_ROOT/cmake/i686-w64-mingw32.cmake" \
        -DCMAKE_PREFIX_PATH="$LESSA_WIN_QT" -DCMAKE_BUILD_TYPE=Release "$@" >/dev/null
    cmake --build "$LESSA_WIN_BUILD" -- -j"$(nproc)"
}

command=${1:-build}
shift || true
case $command in
qt)
    lessa_win_deps
    lessa_win_qt
    ;;
build)
    lessa_win_build
    ;;
*)
    echo "usage: $0 build|test|run|installer|qt" >&2
    exit 2
    ;;
esac
