#!/usr/bin/env bash
# ./test windows: the program as a 64-bit and as a 32-bit x86 Windows console
# program, both built from the same sources with the mingw-w64 cross compilers
# and tried under Wine, installing what that needs (the cross compilers;
# Wine). For each build:
#   - GoogleTest cross-built from the sources Debian ships;
#   - the program and every test program that needs no console model, built
#     (build-windows64/, build-windows/) and run under Wine;
#   - the program, and the keyboard layer's key reader, on a pseudo-terminal
#     under Wine, read through libvterm by a native test (<build>/host/);
#   - the DLLs each program imports, which must all be Windows' own.
# Both are built everywhere. The 64-bit programs run everywhere; the 32-bit
# ones only where this machine runs 32-bit x86 programs, which is found out by
# running one: a kernel without 32-bit emulation refuses it, and Wine's 32-bit
# loader with it. What ran, and why one did not, is said at the end.
# Stops at the first step that fails.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
. "$root/tools/setup.sh"
ensure_packages "${build_packages[@]}" "${test_packages[@]}"
jobs=$(nproc)

# The probe: exit(0) through the 32-bit system call, assembled and linked by
# binutils (installed with g++), so finding out needs no 32-bit library.
runs_32bit_reason=
runs_32bit() {
    # Built where the builds are: a temporary folder may refuse running programs.
    local dir=$root/build-windows/probe-32bit
    mkdir -p "$dir"
    printf '.globl _start\n_start:\n\tmovl $1, %%eax\n\txorl %%ebx, %%ebx\n\tint $0x80\n' >"$dir/probe.s"
    local status=0
    if ! as --32 -o "$dir/probe.o" "$dir/probe.s" 2>"$dir/err" || ! ld -m elf_i386 -o "$dir/probe" "$dir/probe.o" 2>>"$dir/err"; then
        runs_32bit_reason="the 32-bit probe could not be built: $(cat "$dir/err")"
        status=1
    elif ! "$dir/probe" 2>"$dir/err"; then
        runs_32bit_reason="this machine does not run 32-bit x86 programs (the probe: $(tail -n 1 "$dir/err" | sed 's/.*: //'))"
        status=1
    fi
    rm -rf "$dir"
    return $status
}

packages=(googletest g++-mingw-w64-x86-64-posix g++-mingw-w64-i686-posix wine wine64)
run32=0
if runs_32bit; then
    run32=1
    sudo=()
    [ "$(id -u)" -ne 0 ] && sudo=(sudo)
    if ! dpkg --print-foreign-architectures | grep -qx i386; then
        echo "Adding the i386 architecture (Wine runs 32-bit Windows programs with i386 libraries)" >&2
        "${sudo[@]}" dpkg --add-architecture i386
    fi
    packages+=(wine32)
fi
ensure_packages "${packages[@]}"

# Wine stays quiet: no debug channels, and no offer to install .NET or a
# browser engine. Whatever happens below, no Wine process outlives the run.
export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
prefixes=()
end_wine() {
    for prefix in "${prefixes[@]}"; do
        WINEPREFIX=$prefix wineserver -k >/dev/null 2>&1 || true
    done
}
trap end_wine EXIT

# build_windows <folder> <toolchain file>
# GoogleTest, the program and the test programs cross-built in <folder>.
build_windows() {
    local build=$1 toolchain=$root/cmake/$2
    local gtest=$root/$build/googletest
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
}

# check_imports <folder> <objdump>
# The program must run on a bare Windows: every DLL it imports is Windows' own.
check_imports() {
    local program=$root/$1/baseconv.exe
    local dlls
    dlls=$("$2" -p "$program" | sed -n 's/^\tDLL Name: //p')
    echo "$1/baseconv.exe: $(stat -c %s "$program") bytes; it imports:" $dlls
    local foreign
    foreign=$(grep -viE '^(kernel32|user32|msvcrt|advapi32|ntdll)\.dll$' <<<"$dlls" || true)
    if [ -n "$foreign" ]; then
        echo "$1/baseconv.exe imports DLLs that Windows does not ship:" $foreign >&2
        return 1
    fi
}

# run_windows <folder> <WINEARCH>
# The folder's test programs under Wine, then the native test that runs its
# program and key reader under Wine on a pseudo-terminal.
run_windows() {
    local build=$1
    local wine
    wine=$(sed -n 's/^BASECONV_WINE:FILEPATH=//p' "$root/$build/CMakeCache.txt")
    if [ -z "$wine" ] || [ ! -x "$wine" ]; then
        echo "$build: the cross build found no Wine loader for its programs" >&2
        return 1
    fi
    # Wine keeps the build's Windows installation in its folder.
    export WINEPREFIX=$root/$build/wine WINEARCH=$2 WINELOADER=$wine
    prefixes+=("$WINEPREFIX")
    if [ ! -f "$WINEPREFIX/system.reg" ]; then
        echo "Preparing Wine's prefix in $build (its first start)" >&2
        mkdir -p "$WINEPREFIX"
        if ! "$wine" wineboot --init </dev/null >"$root/$build/wineboot.log" 2>&1; then
            cat "$root/$build/wineboot.log" >&2
            return 1
        fi
        # Its server writes the prefix's registry out when it ends.
        wineserver -w
    fi
    # One Wine server for the run, and Wine's own background processes started
    # here with no output to hold: started by a test, they would keep its
    # output open, and CTest waiting for it, long after the test has ended. A
    # server an interrupted run left behind goes first.
    wineserver -k >/dev/null 2>&1 || true
    wineserver -p </dev/null >/dev/null 2>&1
    "$wine" wineboot </dev/null >/dev/null 2>&1

    ctest --test-dir "$root/$build" --output-on-failure -j "$jobs" </dev/null

    configure "$build/host" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DBASECONV_WERROR=ON -DBUILD_TESTING=ON \
        -DBASECONV_WINDOWS_BUILD="$root/$build" -DBASECONV_WINE="$wine"
    cmake --build "$root/$build/host" --target program_under_wine_test
    ctest --test-dir "$root/$build/host" --output-on-failure -R '^program_under_wine_test$' </dev/null
    wineserver -k >/dev/null 2>&1 || true
}

build_windows build-windows64 mingw-x86_64.cmake
check_imports build-windows64 x86_64-w64-mingw32-objdump
build_windows build-windows mingw-i686.cmake
check_imports build-windows i686-w64-mingw32-objdump

run_windows build-windows64 win64
if [ $run32 -eq 1 ]; then
    run_windows build-windows win32
fi

echo "Windows 64-bit (build-windows64/): built; its program and tests ran under Wine."
if [ $run32 -eq 1 ]; then
    echo "Windows 32-bit (build-windows/): built; its program and tests ran under Wine."
else
    echo "Windows 32-bit (build-windows/): built, not run: $runs_32bit_reason."
fi
