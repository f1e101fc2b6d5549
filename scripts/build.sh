#!/usr/bin/env bash
# Builds every build:
# - build/native: engine, fake platform, console scanner and the native
#   tests, with AddressSanitizer and UndefinedBehaviorSanitizer;
# - build/cross: the PE32 programs (mingw-w64 i686) for 32-bit Windows from
#   98 SE and NT 4.0 on, with the Win32 test programs;
# - build/cross64: the same for 64-bit Windows (mingw-w64 x86_64);
# - build/cross-hardened and build/cross64-hardened: both again with stack
#   canaries and checked copies, for a second run of the Wine tests.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
jobs=${JOBS:-$(nproc)}

cmake -S "$root" -B "$root/build/native" -DCMAKE_BUILD_TYPE=Debug -DQUELLOR_SANITIZE=ON >/dev/null
cmake --build "$root/build/native" -j "$jobs"

cross_build() {  # cross_build FOLDER ARCH [CMAKE OPTIONS...]
    local folder=$1 arch=$2
    shift 2
    cmake -S "$root" -B "$root/build/$folder" -DCMAKE_BUILD_TYPE=Release \
        -DCMAKE_TOOLCHAIN_FILE="$root/cmake/toolchain-mingw-$arch.cmake" "$@" >/dev/null
    cmake --build "$root/build/$folder" -j "$jobs"
}
cross_build cross i686
cross_build cross64 x86_64
cross_build cross-hardened i686 -DQUELLOR_HARDEN=ON
cross_build cross64-hardened x86_64 -DQUELLOR_HARDEN=ON
