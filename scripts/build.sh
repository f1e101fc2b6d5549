#!/usr/bin/env bash
# Builds both builds: build/native (engine, fake platform and unit tests with
# AddressSanitizer and UndefinedBehaviorSanitizer), build/cross (the Win32
# backend, Quellor.exe and the Win32 test programs, mingw-w64 i686) and
# build/cross-hardened (the same with stack canaries and checked copies).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
jobs=${JOBS:-$(nproc)}

cmake -S "$root" -B "$root/build/native" -DCMAKE_BUILD_TYPE=Debug -DQUELLOR_SANITIZE=ON >/dev/null
cmake --build "$root/build/native" -j "$jobs"

cmake -S "$root" -B "$root/build/cross" -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_TOOLCHAIN_FILE="$root/cmake/toolchain-mingw-i686.cmake" >/dev/null
cmake --build "$root/build/cross" -j "$jobs"

# The same cross build with stack canaries and checked copies, for a second
# run of the Wine tests.
cmake -S "$root" -B "$root/build/cross-hardened" -DCMAKE_BUILD_TYPE=Release -DQUELLOR_HARDEN=ON \
    -DCMAKE_TOOLCHAIN_FILE="$root/cmake/toolchain-mingw-i686.cmake" >/dev/null
cmake --build "$root/build/cross-hardened" -j "$jobs"
