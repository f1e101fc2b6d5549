#!/usr/bin/env bash
# Builds Quellor.exe and starts it under Wine in a safe prefix of its own
# (build/run): 32-bit, no z: drive, no shell folder linked into a home
# folder, and a demo d: drive holding harmless sample files, made anew for
# every run: documents, and a few harmless files that Quellor detects and
# removes. Without a desktop the program runs on a virtual display.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
source "$root/scripts/wine-lib.sh"

"$root/scripts/setup.sh"
cmake -S "$root" -B "$root/build/cross" -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_TOOLCHAIN_FILE="$root/cmake/toolchain-mingw-i686.cmake" >/dev/null
cmake --build "$root/build/cross" -j "${JOBS:-$(nproc)}" --target Quellor make_demo_samples

run="$root/build/run"
if [ ! -f "$run/prefix/.ready" ]; then
    wine_make_prefix "$run/prefix"
    touch "$run/prefix/.ready"
fi
export WINEPREFIX="$run/prefix"
trap wine_stop EXIT

demo="$run/demo-d"
rm -rf "$demo"
"$root/scripts/make-demo-drive.sh" "$demo"
wine_map_drive d "$demo"
mkdir -p "$WINEPREFIX/drive_c/Quellor"
cp "$root/build/cross/Quellor.exe" "$root/build/cross/make_demo_samples.exe" "$WINEPREFIX/drive_c/Quellor/"
quellor_wine 'C:\Quellor\make_demo_samples.exe' 'D:\'

cd "$WINEPREFIX/drive_c"
if [ -n "${DISPLAY:-}" ]; then
    quellor_wine 'C:\Quellor\Quellor.exe'
else
    echo "no desktop: running on a virtual display"
    HOME="$(wine_home_of "$WINEPREFIX")" xvfb-run -a -s "-screen 0 1024x768x24 -nolisten tcp" \
        wine 'C:\Quellor\Quellor.exe'
fi
echo "Quellor ended; the demo drive is $demo"
