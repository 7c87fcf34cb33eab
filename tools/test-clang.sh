#!/usr/bin/env bash
# ./test clang: everything built with Debian's clang, linked by lld, in
# build-clang/, warnings as errors, and every test of that build run. A second
# compiler finds what one lets pass; lld reads the whole-program build's
# bitcode libraries for every program that links them.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
. "$root/tools/setup.sh"
ensure_packages "${build_packages[@]}" "${test_packages[@]}" clang lld

configure build-clang -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_EXE_LINKER_FLAGS=-fuse-ld=lld \
    -DCMAKE_BUILD_TYPE=RelWithDebInfo -DBASECONV_WERROR=ON -DBUILD_TESTING=ON
cmake --build "$root/build-clang"
exec ctest --test-dir "$root/build-clang" --output-on-failure -j "$(nproc)" </dev/null
