#!/usr/bin/env bash
# ./test windows: the program as a 32-bit x86 Windows console program, built
# from the same sources with the mingw-w64 cross compiler and tried under
# Wine, installing what that needs (the cross compiler; Wine, for which the
# i386 architecture is added to dpkg):
#   - GoogleTest cross-built from the sources Debian ships;
#   - the program and every test program that needs no console model
#     (build-windows/), run under Wine;
#   - the program, and the keyboard layer's key reader, on a pseudo-terminal
#     under Wine, read through libvterm by a native test (build-windows/host/).
# Stops at the first step that fails.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
. "$root/tools/setup.sh"

build=build-windows
jobs=$(nproc)

sudo=()
[ "$(id -u)" -ne 0 ] && sudo=(sudo)
if ! dpkg --print-foreign-architectures | grep -qx i386; then
    echo "Adding the i386 architecture (Wine runs 32-bit Windows programs with i386 libraries)" >&2
    "${sudo[@]}" dpkg --add-architecture i386
fi
ensure_packages "${build_packages[@]}" "${test_packages[@]}" googletest g++-mingw-w64-i686-posix wine wine32

# Wine keeps its Windows installation in the build folder, and stays quiet:
# no debug channels, and no offer to install .NET or a browser engine.
export WINEPREFIX=$root/$build/wine WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
export WINEARCH=win32
# Whatever happens below, no Wine process outlives the run.
trap 'wineserver -k >/dev/null 2>&1 || true' EXIT
if [ ! -f "$WINEPREFIX/system.reg" ]; then
    echo "Preparing Wine's prefix (its first start)" >&2
    mkdir -p "$root/$build"
    if ! wineboot --init </dev/null >"$root/$build/wineboot.log" 2>&1; then
        cat "$root/$build/wineboot.log" >&2
        exit 1
    fi
    # Its server writes the prefix's registry out when it ends.
    wineserver -w
fi
# One Wine server for the whole run, and Wine's own background processes
# started here with no output to hold: started by a test, they would keep its
# output open, and CTest waiting for it, long after the test has ended. A
# server an interrupted run left behind goes first.
wineserver -k >/dev/null 2>&1 || true
wineserver -p </dev/null >/dev/null 2>&1
wineboot </dev/null >/dev/null 2>&1

toolchain=$root/cmake/mingw-i686.cmake
gtest=$root/$build/googletest
if [ ! -f "$gtest/installed/lib/cmake/GTest/GTestConfig.cmake" ]; then
    cmake -S /usr/src/googletest -B "$gtest/build" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$toolchain" \
        -DCMAKE_BUILD_TYPE=Release -DBUILD_GMOCK=OFF -DCMAKE_INSTALL_PREFIX="$gtest/installed" >/dev/null </dev/null
    cmake --build "$gtest/build"
    cmake --install "$gtest/build" >/dev/null
fi

configure "$build" -DCMAKE_TOOLCHAIN_FILE="$toolchain" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DBASECONV_WERROR=ON \
    -DBUILD_TESTING=ON -DGTest_DIR="$gtest/installed/lib/cmake/GTest"
# The key reader is a test program of its own folder, run under Wine below.
cmake --build "$root/$build" --target all key_reader
program=$root/$build/baseconv.exe
ctest --test-dir "$root/$build" --output-on-failure -j "$jobs"

configure "$build/host" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DBASECONV_WERROR=ON -DBUILD_TESTING=ON \
    -DBASECONV_WINDOWS_BUILD="$root/$build"
cmake --build "$root/$build/host" --target program_under_wine_test
ctest --test-dir "$root/$build/host" --output-on-failure -R '^program_under_wine_test$'

echo "baseconv.exe: $(stat -c %s "$program") bytes; it imports:" \
    $(i686-w64-mingw32-objdump -p "$program" | sed -n 's/^\tDLL Name: //p')
