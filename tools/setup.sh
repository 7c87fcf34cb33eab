# Shared set-up for ./run and ./test: installs what the build needs when it is
# missing, then offers configure_and_build <build-dir> [cmake options...].
# Sourced, not run.

packages=(cmake g++ ninja-build pkg-config clang-format libgtest-dev libgmock-dev libvterm-dev)

ensure_packages() {
    local missing=()
    for p in "${packages[@]}"; do
        dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
    done
    [ ${#missing[@]} -eq 0 ] && return 0
    local sudo=()
    [ "$(id -u)" -ne 0 ] && sudo=(sudo)
    echo "Installing: ${missing[*]}" >&2
    "${sudo[@]}" apt-get update -qq >&2
    DEBIAN_FRONTEND=noninteractive "${sudo[@]}" apt-get install -y -qq "${missing[@]}" >&2
}

# configure_and_build <build-dir> [cmake options...] [--target <targets...>]
configure_and_build() {
    local dir=$1
    shift
    local options=() targets=()
    while [ $# -gt 0 ] && [ "$1" != --target ]; do
        options+=("$1")
        shift
    done
    [ $# -gt 0 ] && targets=("$@")
    cmake -S "$root" -B "$root/$dir" -G Ninja "${options[@]}" >/dev/null
    cmake --build "$root/$dir" -j "$(nproc)" "${targets[@]}"
}
