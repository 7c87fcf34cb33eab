#!/usr/bin/env bash
# ./test package: the Debian package as a user makes it, from a clean clone
# of the committed sources with the README's commands, then checked:
#   - baseconv_<version>_amd64.deb is made, with the version the project
#     declares;
#   - lintian reports no error;
#   - unpacked into a scratch root with dpkg -x, its program is stripped,
#     answers --version with that version and converts, and the manual page
#     and copyright file are where Debian keeps them.
# ./test runs it too. Work happens in a temporary folder, removed at the end.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
. "$root/tools/setup.sh"
ensure_packages "${build_packages[@]}" "${package_packages[@]}"

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() {
    echo "package: $*" >&2
    exit 1
}

git clone --quiet "$root" "$work/baseconv"
cd "$work/baseconv"
version=$(sed -n 's/^project(baseconv VERSION \([0-9.]*\) .*/\1/p' CMakeLists.txt)
[ -n "$version" ] || fail "no version in CMakeLists.txt"

# The README's commands.
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF >"$work/log" 2>&1 ||
    { cat "$work/log" >&2; fail "configuring failed"; }
cmake --build build --target package >>"$work/log" 2>&1 || { cat "$work/log" >&2; fail "building failed"; }

deb=build/baseconv_${version}_amd64.deb
[ -f "$deb" ] || fail "no $deb; made: $(ls build/*.deb 2>/dev/null)"
lintian --fail-on error "$deb" ||
    fail "lintian reports errors"

dpkg -x "$deb" "$work/root"
program=$work/root/usr/bin/baseconv
[ "$("$program" --version)" = "baseconv $version" ] || fail "--version says '$("$program" --version)'"
[ "$("$program" 255 16)" = "d15 d15 " ] || fail "255 16 gives '$("$program" 255 16)'"
file "$program" | grep -q ', stripped' || fail "the program is not stripped: $(file "$program")"
gzip -t "$work/root/usr/share/man/man1/baseconv.1.gz" || fail "no compressed manual page"
[ -f "$work/root/usr/share/doc/baseconv/copyright" ] || fail "no copyright file"
echo "package: $deb passes (lintian, dpkg -x, --version $version)"
