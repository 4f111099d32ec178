# Sourced by ./run and ./test: installs what a fresh Debian machine lacks, once.
# shellcheck shell=bash

LESSA_PACKAGES=(cmake ninja-build g++ qtbase5-dev qtbase5-dev-tools libqt5svg5-dev
    fonts-wqy-microhei fontconfig xvfb xauth x11-utils xdotool xcompmgr fluxbox wmctrl imagemagick
    clang libclang-rt-14-dev)

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
        DEBIAN_FRONTEND=noninteractive "${sudo[@]}" apt-get install -y -qq --no-install-recommends \
            "${missing[@]}" >/dev/null
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

lessa_build() {
    local build_dir=$1
    shift
    cmake -S "$LESSA_ROOT" -B "$build_dir" -G Ninja "$@" >/dev/null
    cmake --build "$build_dir" -- -j"$(nproc)"
}
