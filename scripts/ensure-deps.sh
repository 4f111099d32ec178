# Sourced by ./run and ./test: installs what a fresh Debian machine lacks, once.
# shellcheck shell=bash

LESSA_PACKAGES=(cmake ninja-build g++ qtbase5-dev qtbase5-dev-tools libqt5svg5-dev
    fonts-wqy-microhei fontconfig xvfb xauth x11-utils xdotool xcompmgr fluxbox wmctrl imagemagick
    clang libclang-rt-dev python3 dpkg-dev)

# Installs the named packages; when one of them does not exist in this release's registry,
# says which in one line instead of apt's page of output.
lessa_apt_install() {
    local sudo=()
    [[ $(id -u) -ne 0 ]] && sudo=(sudo)
    local package unknown=()
    for package in "$@"; do
        apt-cache show "${package}" >/dev/null 2>&1 || unknown+=("$package")
    done
    if ((${#unknown[@]})); then
        echo "error: not in this release's package registry: ${unknown[*]}" >&2
        return 1
    fi
    DEBIAN_FRONTEND=noninteractive "${sudo[@]}" apt-get install -y -qq --no-install-recommends \
        "$@" >/dev/null || { echo "error: apt-get could not install: $*" >&2; return 1; }
}

lessa_ensure_deps() {
    local missing=()
    local package
    for package in "${LESSA_PACKAGES[@]}"; do
        dpkg -s "$package" >/dev/null 2>&1 || missing+=("$package")
    done
    if ((${#missing[@]})); then
        echo "Installing: ${missing[*]}"
        local sudo=()
        [[ $(id -u) -ne 0 ]] && sudo=(sudo)
        "${sudo[@]}" apt-get update -qq
        lessa_apt_install "${missing[@]}"
    fi
    # The style sheets name 微软雅黑; make it resolve to the CJK font installed above.
    local alias_conf=/etc/fonts/conf.d/65-lessa-msyh.conf
    if ! cmp -s "$LESSA_ROOT/fonts/65-lessa-msyh.conf" "$alias_conf"; then
        if [[ -w /etc/fonts/conf.d ]]; then
            cp "$LESSA_ROOT/fonts/65-lessa-msyh.conf" "$alias_conf" && fc-cache -f >/dev/null 2>&1
        else
            export FONTCONFIG_FILE="$LESSA_ROOT/fonts/fonts.conf"
        fi
    fi
}

# lessa_build PRESET [cmake options...] [--target TARGET...]: configures and builds with the
# configure and build presets of that name (CMakePresets.json); the options go to the configure.
lessa_build() {
    local preset=$1
    shift
    local options=() targets=()
    while (($#)); do
        if [[ $1 == --target ]]; then
            targets+=(--target "$2")
            shift 2
        elif ((${#targets[@]})); then
            targets+=(--target "$1")
            shift
        else
            options+=("$1")
            shift
        fi
    done
    (
        cd "$LESSA_ROOT" || exit 1
        cmake --preset "$preset" "${options[@]}" >/dev/null || exit 1
        cmake --build --preset "$preset" "${targets[@]}" -j"$(nproc)"
    )
}
