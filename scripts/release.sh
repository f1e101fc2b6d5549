#!/usr/bin/env bash
# release.sh [--no-second-build]: puts in dist/ what a release ships:
#   quellor-windows-x86.zip   Quellor.exe and quellor-scan.exe (PE32, every
#                             Windows from 98 SE and NT 4.0 on) with README.txt
#   quellor-windows-x64.zip   the same for 64-bit Windows
#   quellor-scan-linux-x86_64 the console scanner, linked statically
#   quellor-rescue.img.gz     the rescue stick's image (gzip; image writers
#                             take it as it is)
#   SHA256SUMS
# Then it builds everything a second time in other folders (another name
# and depth) and says which files came out byte for byte the same; a file
# that differs ends the script with status 1. --no-second-build skips that.
# Time stamps come from SOURCE_DATE_EPOCH (default: the commit's time).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
dist=$root/dist
jobs=${JOBS:-$(nproc)}
second_build=1
[ "${1:-}" = --no-second-build ] && second_build=0
export SOURCE_DATE_EPOCH=${SOURCE_DATE_EPOCH:-$(git -C "$root" log -1 --format=%ct)}
export LC_ALL=C TZ=UTC
windows_builds=("x86 i686" "x64 x86_64")

"$root/scripts/setup.sh"

# build_all BUILD_ROOT DIST: the Windows programs, the rescue pieces and
# the release files, with every build folder below BUILD_ROOT.
build_all() {
    local builds=$1 out=$2 pair name arch stage
    rm -rf "$out"
    mkdir -p "$out"
    for pair in "${windows_builds[@]}"; do
        read -r name arch <<<"$pair"
        echo "== release: Windows programs ($name)"
        cmake -S "$root" -B "$builds/windows-$name" -DCMAKE_BUILD_TYPE=Release \
            -DCMAKE_TOOLCHAIN_FILE="$root/cmake/toolchain-mingw-$arch.cmake" >/dev/null
        cmake --build "$builds/windows-$name" --target Quellor quellor-scan -j "$jobs" >/dev/null
        stage=$builds/stage-$name
        rm -rf "$stage"
        mkdir -p "$stage"
        cp "$builds/windows-$name/Quellor.exe" "$builds/windows-$name/quellor-scan.exe" "$stage/"
        sed 's/$/\r/' "$root/README.md" >"$stage/README.txt"
        touch -d "@$SOURCE_DATE_EPOCH" "$stage"/*
        (cd "$stage" && zip -q -X -D "$out/quellor-windows-$name.zip" Quellor.exe quellor-scan.exe README.txt)
    done
    echo "== release: rescue image and static scanner"
    RESCUE_OUT="$builds/rescue" RESCUE_STATIC_BUILD="$builds/static" "$root/scripts/rescue-image.sh"
    cp "$builds/rescue/quellor-scan-linux-x86_64" "$out/"
    gzip -n -9 -c "$builds/rescue/quellor-rescue.img" >"$out/quellor-rescue.img.gz"
    (cd "$out" && sha256sum quellor-* >SHA256SUMS)
}

build_all "$root/build/release" "$dist"
echo "== release: dist/"
(cd "$dist" && ls -l && cat SHA256SUMS)
[ "$second_build" = 1 ] || exit 0

echo "== release: a second build, elsewhere"
second=$root/build/release-second/elsewhere
build_all "$second" "$second/dist"
status=0
for file in $(cd "$dist" && ls quellor-*); do
    if cmp -s "$dist/$file" "$second/dist/$file"; then
        echo "byte-identical in both builds: $file"
    else
        echo "DIFFERS between the two builds: $file"
        status=1
    fi
done
exit "$status"
