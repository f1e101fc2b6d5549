#!/usr/bin/env bash
# Runs every test: installs what is missing, builds every build, runs the
# native tests, the fuzz run, then the Win32 tests under Wine: the x64
# passes on every machine (they must run), the PE32 passes natively where
# the machine runs 32-bit programs, under user-mode emulation where its
# kernel refuses them, and reported skipped (never passed) where neither
# runs. The last line says which passes ran which way and which were
# skipped.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
jobs=${JOBS:-$(nproc)}

"$root/scripts/setup.sh"
"$root/scripts/build.sh"

failed=0
echo "== native unit tests"
(cd "$root/build/native" && ctest --output-on-failure -j "$jobs") || failed=1

echo "== fuzzing"
"$root/scripts/fuzz.sh" || { echo "FAILED: the fuzz run (scripts/fuzz.sh)"; failed=1; }

source "$root/scripts/wine-lib.sh"
native=() emulated=() skipped=()
# wine_pass BUILD ARCH: the build's ctest (import and hardening checks, then
# its Wine tests) in a fresh prefix, natively or, for the PE32 programs on a
# kernel that runs no 32-bit program, under user-mode emulation. A pass
# counts as run only when none of its tests was skipped.
wine_pass() {
    local build=$1 arch=$2 log status=0 reason mode started seconds
    reason=$(wine_check_arch "$arch") || status=$?
    mode=$(wine_mode_name "$status")
    case "$mode" in
        native) echo "== $build: $(wine_pass_name "$arch") programs under Wine, natively" ;;
        emulated) echo "== $build: $(wine_pass_name "$arch") programs under Wine, under user-mode emulation: $reason" ;;
        skipped) echo "== $build: THE $(wine_pass_name "$arch") WINE TESTS WILL BE SKIPPED: $reason" ;;
        *) echo "== $build: FAILED: $reason"; failed=1 ;;
    esac
    rm -rf "$root/build/$build/wine"
    log="$root/build/$build/ctest.log"
    started=$SECONDS
    (cd "$root/build/$build" && ctest --output-on-failure -j "$jobs") 2>&1 | tee "$log" || failed=1
    seconds=$((SECONDS - started))
    echo "== $build: $((seconds / 60)) min $((seconds % 60)) s"
    if grep -q '\*\*\*Skipped\|Not Run' "$log"; then
        skipped+=("$build")
        if wine_pass_required "$arch"; then
            echo "FAILED: the $(wine_pass_name "$arch") pass of $build must run, but tests were skipped"
            failed=1
        fi
    elif [ "$mode" = emulated ]; then
        emulated+=("$build (${seconds} s)")
    else
        native+=("$build (${seconds} s)")
    fi
}
wine_pass cross64 win64
wine_pass cross64-hardened win64
wine_pass cross win32
wine_pass cross-hardened win32

list() { local IFS=,; echo "${*:-none}" | sed 's/,/, /g'; }
summary="Wine passes run natively: $(list "${native[@]}"); under user-mode emulation: $(list "${emulated[@]}"); skipped: $(list "${skipped[@]}")"
if [ "$failed" -ne 0 ]; then
    echo "SOME TESTS FAILED ($summary)"
    exit 1
fi
if [ ${#skipped[@]} -eq 0 ]; then
    echo "ALL TESTS PASSED ($summary)"
else
    echo "ALL TESTS THAT COULD RUN PASSED ($summary)"
fi
