#!/usr/bin/env bash
# Installs what a stage needs and a fresh Debian 12 or 13 machine lacks, once.
#   scripts/deps.sh linux|api  the Linux build and its tests | the Qt 5.9 API-level check
#   scripts/deps.sh windows    MinGW-w64, Wine, msitools, osslsigncode and the static Qt for
#                              Windows (built once); prints the preset that runs under Wine here
#   scripts/deps.sh qt ARCH    only the static Qt for i686 or x86_64
# Sourced, it defines the functions only.
set -euo pipefail
shopt -s inherit_errexit
LESSA_ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)

LESSA_PACKAGES=(cmake ninja-build g++ qtbase5-dev qtbase5-dev-tools libqt5svg5-dev
    fonts-wqy-microhei fontconfig xvfb xauth x11-utils xdotool xcompmgr fluxbox wmctrl imagemagick
    clang libclang-rt-dev python3 dpkg-dev dbus-daemon at-spi2-core python3-pyatspi openssl)
LESSA_API_PACKAGES=(python3-clang)
LESSA_WIN_PACKAGES=(g++-mingw-w64-i686-posix mingw-w64-i686-dev g++-mingw-w64-x86-64-posix
    mingw-w64-x86-64-dev binutils-mingw-w64-i686 binutils-mingw-w64-x86-64 binutils wine64 make
    perl wixl msitools osslsigncode openssl python3-pefile qtbase5-dev-tools qt5-qmake-bin)
# Fixed paths: Qt's .prl files and CMake packages name absolute paths.
LESSA_WIN_CACHE=/opt/lessa
LESSA_WIN_SRC=/var/cache/lessa/qtbase-src
LESSA_WIN_LOCKS=/run/lock LESSA_LOCKS_HELD=""
[[ -d $LESSA_WIN_LOCKS ]] || LESSA_WIN_LOCKS=/tmp

lessa_sudo() { if [[ $(id -u) -ne 0 ]]; then sudo "$@"; else "$@"; fi; }

# lessa_install PACKAGE...: those not installed yet; a package this release's registry lacks is
# named in one line instead of apt's page of output.
lessa_install() {
    local package missing=() unknown=()
    for package in "$@"; do
        dpkg -s "$package" >/dev/null 2>&1 || missing+=("$package")
    done
    ((${#missing[@]})) || return 0
    echo "Installing: ${missing[*]}" >&2
    lessa_sudo apt-get update -qq
    for package in "${missing[@]}"; do
        apt-cache show "$package" >/dev/null 2>&1 || unknown+=("$package")
    done
    if ((${#unknown[@]})); then
        echo "error: not in this release's package registry: ${unknown[*]}" >&2
        return 1
    fi
    DEBIAN_FRONTEND=noninteractive lessa_sudo apt-get install -y -qq --no-install-recommends \
        "${missing[@]}" >/dev/null || { echo "error: apt-get could not install: ${missing[*]}" >&2; return 1; }
}

lessa_deps_linux() {
    lessa_install "${LESSA_PACKAGES[@]}"
    # The style sheets name 微软雅黑; make it resolve to the CJK font installed above.
    local alias_conf=/etc/fonts/conf.d/65-lessa-msyh.conf
    if ! cmp -s "$LESSA_ROOT/fonts/65-lessa-msyh.conf" "$alias_conf"; then
        lessa_sudo cp "$LESSA_ROOT/fonts/65-lessa-msyh.conf" "$alias_conf"
        lessa_sudo fc-cache -f >/dev/null 2>&1 || true
    fi
}

# lessa_lock NAME COMMAND...: COMMAND under a lock that every run on this machine shares, so
# that two runs never fetch or build Qt into the same folders; one already held is held on.
lessa_lock() {
    local lock=$LESSA_WIN_LOCKS/lessa-$1.lock
    shift
    [[ " ${LESSA_LOCKS_HELD:-} " != *" $lock "* ]] || { "$@"; return; }
    (
        flock -n 9 || { echo "== Waiting for another run to release $lock" >&2; flock 9; }
        LESSA_LOCKS_HELD="${LESSA_LOCKS_HELD:-} $lock" "$@"
    ) 9>>"$lock"
}

# Adds deb-src entries for the Debian archive this machine already uses, so that apt-get source
# finds qtbase: only Debian's own archive (a host below debian.org, or signed by Debian's archive
# key; a mirror of any name is), never another vendor's repository; the entries go again when
# the update fails, so that they cannot break apt for the machine.
lessa_deb_src() {
    [[ $(apt-cache showsrc qtbase-opensource-src 2>/dev/null) == *'Package: qtbase'* ]] && return
    local list=/etc/apt/sources.list.d/lessa-deb-src.sources
    local one_line=/etc/apt/sources.list.d/lessa-deb-src.list source_file
    for source_file in /etc/apt/sources.list.d/*.sources; do
        [[ -f $source_file && $source_file != "$list" ]] || continue
        grep -qE '^URIs:.*://([^/ ]*\.)?debian\.org(/| |$)|^Signed-By:.*debian-archive-keyring' \
            "$source_file" || continue
        sed -e 's/^Types:.*/Types: deb-src/' "$source_file"
        echo
    done | lessa_sudo tee "$list.tmp" >/dev/null
    if [[ -f /etc/apt/sources.list ]]; then
        local host='[a-z]+://([^/ ]*\.)?debian\.org[/ ]' key='\[[^]]*debian-archive-keyring[^]]*\] '
        { grep -E "^deb ($key|(\[[^]]*\] )?$host)" /etc/apt/sources.list || true; } |
            sed 's/^deb /deb-src /' | lessa_sudo tee "$one_line" >/dev/null
    fi
    lessa_sudo mv "$list.tmp" "$list"
    if ! lessa_sudo apt-get update -qq; then
        lessa_sudo rm -f "$list" "$one_line"
        lessa_sudo apt-get update -qq || true
        echo "error: apt-get update failed with deb-src entries for Debian's archive; they are" \
            "removed again" >&2
        return 1
    fi
}

# The folder of Qt's patched source; fails when there is none.
lessa_qt_source_dir() {
    local src=("$LESSA_WIN_SRC"/qtbase-*/)
    [[ -d $src && $(cat "$src.lessa-patched" 2>/dev/null) == "$(lessa_qt_patch_id)" ]] &&
        echo "${src%/}"
}

# Prints the folder of Qt's patched source, fetching it first when there is none.
lessa_qt_source() { lessa_qt_source_dir || { lessa_lock qt-source lessa_qt_fetch >&2 && lessa_qt_source_dir; }; }

lessa_qt_fetch() {
    lessa_qt_source_dir >/dev/null && return
    lessa_install dpkg-dev && lessa_deb_src || return 1
    [[ ! -e $LESSA_WIN_SRC ]] || lessa_sudo "$LESSA_ROOT/scripts/remove-tree.sh" \
        "$LESSA_WIN_SRC" "$(dirname "$LESSA_WIN_SRC")" || return 1
    lessa_sudo install -d -o "$(id -u)" -g "$(id -g)" "$LESSA_WIN_SRC" || return 1
    (cd "$LESSA_WIN_SRC" && apt-get source -qq qtbase-opensource-src >apt-source.log 2>&1) || {
        tail -20 "$LESSA_WIN_SRC/apt-source.log"
        echo "error: apt-get source qtbase-opensource-src failed" >&2
        return 1
    }
    local src=("$LESSA_WIN_SRC"/qtbase-*/)
    [[ -d $src ]] || { echo "error: apt-get source left no qtbase-* folder" >&2; return 1; }
    lessa_qt_patch "${src%/}"
}

# lessa_qt_patch SRC: patches SRC (docs/windows.md), marked with their digest once all took.
lessa_qt_patch() {
    local file gone made script
    while read -r file gone made script; do
        file=$1/src/$file
        grep -q -e "$gone" "$file" && sed -i "$script" "$file" && ! grep -q -e "$gone" "$file" &&
            grep -q -e "$made" "$file" || { echo "error: patching $file failed" >&2; return 1; }
    done <<'EOF'
network/ssl/ssl.pri -l[SCN][ecr] -lsecur32 s/-l\(Secur32\|Crypt32\|Ncrypt\)/-l\L\1/g
network/ssl/qasn1element.cpp localeC v.>.'9' /localeC;/d; s/!std::isdigit(v, localeC)/(v < '0' || v > '9')/
3rdparty/double-conversion/double-conversion.cc cType (ch.|.32) /cType =$/,+1d; s/return cType.tolower(ch)/return ch >= 'A' \&\& ch <= 'Z' ? char(ch | 32) : ch/
plugins/platforms/windows/qwindowsintegration.cpp ^#ifdef.QT_NO_FREETYPE ^#if.1$ s/^#ifdef QT_NO_FREETYPE/#if 1/
widgets/styles/qstyle.qrc -128\.png -16\.png /-128\.png</d
EOF
    lessa_qt_patch_id >"$1/.lessa-patched"
}
lessa_qt_patch_id() { declare -f lessa_qt_patch | md5sum | cut -c1-12; }

# lessa_qt_prefix ARCH: where the static Qt for i686 or x86_64 lives (the presets name it).
lessa_qt_prefix() {
    case $1 in
    i686) echo "$LESSA_WIN_CACHE/qt5-win32-static" ;;
    x86_64) echo "$LESSA_WIN_CACHE/qt5-win64-static" ;;
    *) echo "error: no Qt for architecture '$1' (i686 or x86_64)" >&2; return 2 ;;
    esac
}

# The host tools of Debian's own Qt (qmake, moc, rcc, uic) when they are the source's version.
lessa_qt_host_tools() {
    local src version tool
    src=$(lessa_qt_source_dir) &&
        version=$(dpkg-query -W -f '${Version}' qtbase5-dev-tools 2>/dev/null) &&
        [[ $(basename "$src") == "qtbase-opensource-src-${version%%-*}" ]] || return 1
    for tool in qmake moc rcc uic; do [[ -x /usr/lib/qt5/bin/$tool ]] || return 1; done
    echo /usr/lib/qt5/bin
}

# lessa_qt_configure_args ARCH PREFIX: Qt's configure line, one argument a line: optimised for
# size, without what neither the programs nor their tests use (docs/windows.md).
lessa_qt_configure_args() {
    local tools
    tools=$(lessa_qt_host_tools) || true
    printf '%s\n' -prefix "$2" -xplatform win32-g++ \
        -device-option CROSS_COMPILE="$1-w64-mingw32-" -platform linux-g++ \
        -release -opensource -confirm-license -nomake examples -nomake tests \
        -static -static-runtime -optimize-size -gc-binaries -no-opengl -no-vulkan \
        -no-direct2d -qt-zlib -qt-libpng -no-libjpeg -no-gif -no-ico -qt-freetype -qt-pcre \
        -no-harfbuzz -no-dbus -no-icu -no-fontconfig -schannel -no-openssl -D PCRE2_DISABLE_JIT \
        ${tools:+-external-hostbindir "$tools"}
    # Only exceptions read 32-bit unwind tables, and only QtCore throws (docs/windows.md).
    [[ $1 != i686 ]] || printf '%s\n' {QMAKE_CFLAGS,QMAKE_CXXFLAGS}+=-fno-asynchronous-unwind-tables
    # Qt's own text shaper and an interpreted PCRE2 are enough for our texts and patterns.
    # Each feature below also takes what depends on it; the Windows Vista style, which themes
    # the tooltips, needs the item views, tab bar, tool bar, spin box, message and input dialogs.
    printf -- '-no-feature-%s\n' sql xml concurrent printer tabletevent big_codecs mimetype \
        xmlstream statemachine sharedmemory systemsemaphore topleveldomain hijricalendar \
        islamiccivilcalendar jalalicalendar translation sortfilterproxymodel identityproxymodel \
        transposeproxymodel concatenatetablesproxymodel sha3-fast pdf textodfwriter \
        textmarkdownreader textmarkdownwriter movie imageformat_ppm imageformat_xbm picture \
        sessionmanager systemtrayicon whatsthis ftp networkdiskcache bearermanagement localserver dtls sctp \
        dnslookup netlistmgr columnview listwidget treewidget tablewidget completer \
        datawidgetmapper calendarwidget fontcombobox colordialog fontdialog filesystemmodel \
        undocommand wizard dockwidget statusbar syntaxhighlighter textbrowser progressbar mdiarea \
        keysequenceedit errormessage commandlinkbutton dial lcdnumber splashscreen splitter \
        sizegrip toolbox graphicsview graphicseffect style-fusion
}

# lessa_qt_stamp ARCH SRC: what a built Qt's .complete holds: the source folder, its Debian
# version, and the configure line. A Qt whose stamp differs is built again.
lessa_qt_stamp() {
    local version
    version=$(sed -n '1s/^[^ ]* (\([^)]*\)).*/\1/p' "$2/debian/changelog")
    echo "$(basename "$2") $version $(<"$2/.lessa-patched")"
    lessa_qt_configure_args "$1" "$(lessa_qt_prefix "$1")" | tr '\n' ' '
    echo
}

lessa_qt_current() {
    local prefix src
    prefix=$(lessa_qt_prefix "$1")
    [[ -x $prefix/bin/qmake && -f $prefix/.complete ]] || return 1
    src=$(lessa_qt_source) || return 1
    [[ $(<"$prefix/.complete") == "$(lessa_qt_stamp "$1" "$src")" ]]
}

lessa_qt() { lessa_qt_current "$1" || lessa_lock qt-source lessa_qt_build "$1"; }

# Under the source's lock, which a fetch (replacing the build folders too) takes; replaces an
# older Qt in the prefix.
lessa_qt_build() {
    local arch=$1 prefix src started=$SECONDS configure tools
    prefix=$(lessa_qt_prefix "$arch")
    lessa_qt_current "$arch" && return
    src=$(lessa_qt_source)
    echo "== Building a static Qt for $arch Windows into $prefix:" \
        "a one-time build of about 20 minutes on two cores" >&2
    local build="$LESSA_WIN_SRC/build-$arch"
    [[ ! -e $prefix ]] || lessa_sudo "$LESSA_ROOT/scripts/remove-tree.sh" "$prefix" "$LESSA_WIN_CACHE"
    [[ ! -e $build ]] || "$LESSA_ROOT/scripts/remove-tree.sh" "$build" "$LESSA_WIN_SRC"
    mkdir -p "$build"
    lessa_sudo install -d -o "$(id -u)" -g "$(id -g)" "$prefix"
    mapfile -t configure < <(lessa_qt_configure_args "$arch" "$prefix")
    tools=$(printf '%s\n' "${configure[@]}" | sed -n '/^-external-hostbindir$/{n;p}')
    (
        cd "$build"
        MAKEFLAGS=-j$(nproc) "$src/configure" "${configure[@]}" >configure.log 2>&1 ||
            { tail -40 configure.log; exit 1; }
        if [[ -n $tools ]]; then
            # Configure takes Debian's tools but builds its own all the same: those do nothing.
            make sub-src-qmake_all >qmake.log 2>&1 || { tail -40 qmake.log; exit 1; }
            for tool in bootstrap moc rcc uic qlalr tracegen; do
                printf 'first:\n.DEFAULT: ; @:\n' >"src/tools/$tool/Makefile"
            done
        fi
        make -j"$(nproc)" >make.log 2>&1 || { grep -m20 -B5 "Error\|error:" make.log; exit 1; }
        make install >install.log 2>&1 || { tail -40 install.log; exit 1; }
        [[ -z $tools ]] || ln -sf "$tools/moc" "$tools/rcc" "$tools/uic" "$prefix/bin/"
    ) >&2
    lessa_qt_stamp "$arch" "$src" >"$prefix/.complete"
    "$LESSA_ROOT/scripts/remove-tree.sh" "$build" "$LESSA_WIN_SRC"
    echo "Qt for $arch Windows built in $((SECONDS - started)) s" >&2
}

# Whether this machine executes 32-bit x86 code: an i386 Linux program that only exits 0.
lessa_runs_i386() {
    local probe status=0
    mkdir -p "$LESSA_ROOT/build" && probe=$(mktemp -d "$LESSA_ROOT/build/i386-probe.XXXXXX") ||
        return 1
    printf '.globl _start\n_start: xor %%ebx, %%ebx\nmov $1, %%eax\nint $0x80\n' |
        as --32 -o "$probe/exit.o" - && ld -m elf_i386 -o "$probe/exit" "$probe/exit.o" &&
        "$probe/exit" 2>/dev/null || status=1
    rm -f "$probe/exit" "$probe/exit.o" && rmdir "$probe"
    return $status
}

# The Windows stage's tools and Qt. The product is a 32-bit executable, but Wine runs 32-bit
# code only where the kernel executes i386 user code: elsewhere (or with LESSA_WIN_ARCH=x86_64)
# the same sources built for 64-bit Windows run under Wine instead.
lessa_deps_windows() {
    lessa_install "${LESSA_WIN_PACKAGES[@]}"
    # The MinGW compilers default to the win32 thread model, which lacks std::thread.
    local triplet tool arch=${LESSA_WIN_ARCH:-}
    for triplet in i686-w64-mingw32 x86_64-w64-mingw32; do
        for tool in gcc g++; do
            [[ $(readlink -f "/usr/bin/$triplet-$tool") == *posix ]] ||
                lessa_sudo update-alternatives --set "$triplet-$tool" \
                    "/usr/bin/$triplet-$tool-posix" >/dev/null
        done
    done
    [[ -n $arch ]] || arch=$(lessa_runs_i386 && echo i686 || echo x86_64)
    if [[ $arch == i686 ]] && ! dpkg -s wine32:i386 >/dev/null 2>&1; then
        [[ $(dpkg --print-foreign-architectures) == *i386* ]] || lessa_sudo dpkg --add-architecture i386
        lessa_install wine32:i386
    fi
    lessa_qt "$arch"
    case $arch in i686) echo win32 ;; x86_64) echo win64 ;; *) return 2 ;; esac
}

[[ ${BASH_SOURCE[0]} == "$0" ]] || return 0
case ${1:-} in
linux) lessa_deps_linux ;;
api)
    lessa_install "${LESSA_API_PACKAGES[@]}"
    lessa_qt_source >/dev/null
    ;;
windows) lessa_deps_windows ;;
qt) lessa_install "${LESSA_WIN_PACKAGES[@]}" && lessa_qt "${2:-i686}" ;;
*)
    echo "usage: $0 linux|api|windows|qt ARCH" >&2
    exit 2
    ;;
esac
