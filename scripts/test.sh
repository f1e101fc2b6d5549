#!/usr/bin/env bash
# Runs every test: installs what is missing, builds every build, runs the
# native tests, the fuzz run, then the Win32 tests under Wine: the x64 pass
# on every machine (it must run), the PE32 pass where the machine runs
# 32-bit programs (reported skipped, never passed, where its kernel refuses
# them).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
jobs=${JOBS:-$(nproc)}

"$root/scripts/setup.sh"
"$root/scripts/build.sh"

failed=0
echo "== native unit tests (with the rescue stick's image and its boots under QEMU)"
native_log="$root/build/native/ctest.log"
(cd "$root/build/native" && ctest --output-on-failure -j "$jobs") 2>&1 | tee "$native_log" || failed=1
native_skipped=$(sed -n 's/.* - \([A-Za-z0-9_.]*\) (Skipped)$/\1/p' "$native_log" | paste -sd' ')

echo "== fuzzing"
"$root/scripts/fuzz.sh" || { echo "FAILED: the fuzz run (scripts/fuzz.sh)"; failed=1; }

source "$root/scripts/wine-lib.sh"
ran=() skipped=()
# wine_pass BUILD ARCH: the build's ctest (import and hardening checks, then
# its Wine tests) in a fresh prefix. A pass counts as run only when none of
# its tests was skipped.
wine_pass() {
    local build=$1 arch=$2 log status=0 reason
    echo "== $build: $(wine_pass_name "$arch") programs under Wine"
    reason=$(wine_check_arch "$arch") || status=$?
    if [ "$status" = 2 ]; then
        echo "FAILED: $reason"
        failed=1
    elif [ "$status" = 1 ]; then
        echo "THE $(wine_pass_name "$arch") WINE TESTS OF $build WILL BE SKIPPED: $reason"
    fi
    rm -rf "$root/build/$build/wine"
    log="$root/build/$build/ctest.log"
    (cd "$root/build/$build" && ctest --output-on-failure -j "$jobs") 2>&1 | tee "$log" || failed=1
    if grep -q '\*\*\*Skipped\|Not Run' "$log"; then
        skipped+=("$build")
        if wine_pass_required "$arch"; then
            echo "FAILED: the $(wine_pass_name "$arch") pass of $build must run, but tests were skipped"
            failed=1
        fi
    else
        ran+=("$build")
    fi
}
wine_pass cross64 win64
wine_pass cross64-hardened win64
wine_pass cross win32
wine_pass cross-hardened win32

summary="Wine passes run: ${ran[*]:-none}"
[ -z "$native_skipped" ] || summary="$summary; native tests skipped: $native_skipped"
[ ${#skipped[@]} -eq 0 ] || summary="$summary; skipped (this machine runs no 32-bit program): ${skipped[*]}"
if [ "$failed" -ne 0 ]; then
    echo "SOME TESTS FAILED ($summary)"
    exit 1
fi
if [ ${#skipped[@]} -eq 0 ] && [ -z "$native_skipped" ]; then
    echo "ALL TESTS PASSED ($summary)"
else
    echo "ALL TESTS THAT COULD RUN PASSED ($summary)"
fi
