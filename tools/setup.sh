# Shared set-up for ./run and ./test, sourced, not run: ensure_packages installs
# Debian packages that are missing; configure builds a build folder's set-up
# only when it is missing or its options changed.

# What building the program needs, and what building and running the tests
# needs on top (the tests check the format of the sources, and read terminal
# output through libvterm).
build_packages=(cmake g++ ninja-build)
test_packages=(pkg-config clang-format libgtest-dev libgmock-dev libvterm-dev)
# What making and checking the Debian package needs (./test package).
package_packages=(dpkg-dev gzip git file lintian)

# Every `cmake --build` of the scripts that source this runs as many
# compilations at once as the machine has cores: ninja's own default adds two
# more, which on a small shared machine leaves the tests and everybody else
# waiting. A value set by the caller stays.
export CMAKE_BUILD_PARALLEL_LEVEL=${CMAKE_BUILD_PARALLEL_LEVEL:-$(nproc)}

# ensure_packages <package...>
ensure_packages() {
    # One query for all: dpkg-query costs a tenth of a second a call. Each
    # package is listed by its name and by its name with the architecture
    # where that may go with it, so that either way of asking finds it; a name
    # not found that way is asked alone.
    local installed missing=()
    installed=$'\n'$(dpkg-query -W -f='${Package} ${Status}\n${binary:Package} ${Status}\n' "$@" 2>/dev/null)$'\n'
    for p in "$@"; do
        [[ $installed == *$'\n'"$p install ok installed"$'\n'* ]] ||
            dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
    done
    [ ${#missing[@]} -eq 0 ] && return 0
    local sudo=()
    [ "$(id -u)" -ne 0 ] && sudo=(sudo)
    echo "Installing: ${missing[*]}" >&2
    # Standard input stays the caller's: a piped ./run hands it to the program.
    local log
    log=$(mktemp)
    if ! { "${sudo[@]}" apt-get update -qq &&
        DEBIAN_FRONTEND=noninteractive "${sudo[@]}" apt-get install -y -qq "${missing[@]}"; } </dev/null >"$log" 2>&1; then
        cat "$log" >&2
        rm -f "$log"
        return 1
    fi
    rm -f "$log"
}

# configure <build-dir> [cmake options...]
# Configures <build-dir> unless it already is, with exactly these options. A
# configured folder reconfigures itself when a CMakeLists.txt changes.
configure() {
    local dir=$root/$1
    shift
    local stamp=$dir/baseconv-options
    if [ -f "$dir/build.ninja" ] && [ "$(cat "$stamp" 2>/dev/null)" = "$*" ]; then
        return 0
    fi
    cmake -S "$root" -B "$dir" -G Ninja "$@" >/dev/null </dev/null
    printf '%s' "$*" >"$stamp"
}
