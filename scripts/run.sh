#!/usr/bin/env bash
# Builds Quellor.exe and starts it under Wine in a safe prefix of its own
# (build/run): no z: drive, no shell folder linked into a home folder, and a
# demo d: drive holding harmless sample files, made anew for every run:
# documents, and a few harmless files that Quellor detects and removes.
#
# The PE32 program runs natively where the machine runs 32-bit programs; on
# a kernel that runs none, under user-mode emulation (scripts/wine-lib.sh),
# and the script says which. Only where neither runs it does the x64
# program run under Wine's 64-bit loader instead.
# With a desktop the window opens there. Without one the demo runs end to
# end on a virtual display: run_demo presses SCAN, prints the results list
# and the statistics, keeps a PNG screenshot of the finished window and
# closes the program. Both demo programs (make_demo_samples, which writes
# the samples, and run_demo) are built from demo/. Any step that fails ends this script with a message
# and a non-zero status. Only where no Wine runs at all does it say so and
# run the console scanner, built for Linux, over the same demo drive.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
source "$root/scripts/wine-lib.sh"

fail() {
    echo "run.sh: $*" >&2
    exit 1
}

# Where Wine cannot run: the same engine as the console scanner, built for
# Linux, removes the same harmless samples from the demo drive.
run_console_demo() {
    echo "Running the console scanner (the same engine, built for Linux) over the demo drive instead."
    local build="$root/build/console" demo="$root/build/run/demo-d" store="$root/build/run/quarantine" status=0
    cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release >/dev/null || fail "cmake could not configure $build"
    cmake --build "$build" -j "${JOBS:-$(nproc)}" --target quellor-scan make_demo_samples >/dev/null ||
        fail "the build of the console scanner failed"
    rm -rf "$demo" "$store"
    "$root/scripts/make-demo-drive.sh" "$demo" || fail "could not make the demo drive $demo"
    "$build/make_demo_samples" "$demo" || fail "could not write the demo samples to $demo"
    # The demo keeps its quarantine beside the demo drive, not in the
    # user's own data folder.
    echo "$ quellor-scan --quarantine $store --remove $demo"
    "$build/quellor-scan" --quarantine "$store" --remove "$demo" || status=$?
    # 1: found and removed; 0 or 3 would be a wrong demo drive or a fault.
    [ "$status" = 1 ] || fail "quellor-scan ended with status $status where the demo's samples give 1"
    echo "The demo drive is $demo; what is left of it:"
    (cd "$demo" && find . -type f | sort)
    echo "$ quellor-scan --quarantine $store --quarantine-list"
    "$build/quellor-scan" --quarantine "$store" --quarantine-list ||
        fail "the quarantine of the demo could not be listed"
    echo "(quellor-scan --quarantine $store --restore ID puts a file back)"
}

if [ -z "${QUELLOR_RUN_MODE:-}" ]; then
    "$root/scripts/setup.sh" || fail "could not install what this machine lacks (scripts/setup.sh)"
    status=0
    reason=$(wine_check_arch win32) || status=$?
    if [ "$status" = 0 ] || [ "$status" = 3 ]; then
        export QUELLOR_WINE_ARCH=win32 QUELLOR_RUN_MODE=$(wine_mode_name "$status")
        [ "$status" = 0 ] || echo "The PE32 Quellor.exe runs under user-mode emulation here: $reason"
    elif reason64=$(wine_check_arch win64); then
        echo "The PE32 Quellor.exe cannot run here: $reason"
        echo "Running its x64 twin under Wine's 64-bit loader."
        export QUELLOR_WINE_ARCH=win64 QUELLOR_RUN_MODE=native
    else
        echo "No Wine runs here: $reason; $reason64"
        run_console_demo
        exit 0
    fi
    if [ -z "${DISPLAY:-}" ]; then
        # Everything from here on, the first Wine command included, runs on
        # the virtual display: a prefix server started without a display
        # leaves every later program of the prefix without windows.
        command -v xvfb-run >/dev/null || fail "no desktop and no xvfb-run for a virtual display"
        echo "no desktop: running the demo on a virtual display"
        export QUELLOR_ON_VIRTUAL_DISPLAY=1
        exec xvfb-run -a -s "-screen 0 1024x768x24 -nolisten tcp" "$0" "$@"
    fi
fi
# Every Wine command of an emulated run runs inside the emulation.
if [ "$QUELLOR_RUN_MODE" = emulated ]; then
    wine_needs_emulation=1
    wine_enter_emulation "$0" "$@"
fi

wine_use_arch "$QUELLOR_WINE_ARCH"
if [ "$QUELLOR_WINE_ARCH" = win64 ]; then build=cross64 arch=x86_64; else build=cross arch=i686; fi
cmake -S "$root" -B "$root/build/$build" -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_TOOLCHAIN_FILE="$root/cmake/toolchain-mingw-$arch.cmake" >/dev/null ||
    fail "cmake could not configure build/$build"
cmake --build "$root/build/$build" -j "${JOBS:-$(nproc)}" --target Quellor make_demo_samples run_demo ||
    fail "the build failed"
if [ "$QUELLOR_RUN_MODE" = emulated ]; then how="under user-mode emulation ($QUELLOR_QEMU_I386)"
else how=natively; fi
echo "running the $(wine_pass_name) build/$build/Quellor.exe under Wine, $how"

run="$root/build/run"
prefix="$run/prefix-$QUELLOR_WINE_ARCH"
if [ ! -f "$prefix/.ready" ]; then
    wine_make_prefix "$prefix" || fail "could not make the Wine prefix $prefix"
    touch "$prefix/.ready"
fi
export WINEPREFIX="$prefix"
# A server left from an earlier run may hold another display (or none).
wine_stop
trap wine_stop EXIT

demo="$run/demo-d"
rm -rf "$demo"
"$root/scripts/make-demo-drive.sh" "$demo" || fail "could not make the demo drive $demo"
wine_map_drive d "$demo" || fail "could not map the demo drive as d:"
mkdir -p "$WINEPREFIX/drive_c/Quellor"
cp "$root/build/$build/Quellor.exe" "$root/build/$build/make_demo_samples.exe" "$root/build/$build/run_demo.exe" \
    "$WINEPREFIX/drive_c/Quellor/"
quellor_wine 'C:\Quellor\make_demo_samples.exe' 'D:\' || fail "could not write the demo samples to d:"

cd "$WINEPREFIX/drive_c"
if [ -z "${QUELLOR_ON_VIRTUAL_DISPLAY:-}" ]; then
    quellor_wine 'C:\Quellor\Quellor.exe' || fail "Quellor.exe did not run under Wine (status $?)"
    echo "Quellor ended (the $(wine_pass_name) program under Wine, $how); the demo drive is $demo"
    exit 0
fi

shot_bmp="$WINEPREFIX/drive_c/Quellor/finished.bmp"
shot="$run/finished.png"
rm -f "$shot_bmp" "$shot"
quellor_wine 'C:\Quellor\run_demo.exe' 'C:\Quellor\finished.bmp' || fail "the demo did not run to its end (status $?)"
[ -s "$shot_bmp" ] || fail "the demo saved no screenshot"
convert "$shot_bmp" "$shot" || fail "could not turn the screenshot into $shot"
echo "screenshot of the finished window: $shot"
echo "Quellor ended (the $(wine_pass_name) program under Wine, $how); the demo drive is $demo"
