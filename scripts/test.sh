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
echo "== native unit tests (with the rescue stick's image and its boots under QEMU)"
native_log="$root/build/native/ctest.log"
(cd "$root/build/native" && ctest --output-on-failure -j "$jobs") 2>&1 | tee "$native_log" || failed=1
# Skipped native tests, but for the platform contract's cases that do not
# apply to a backend (a POSIX backend has no registry), which skip by design.
native_skipped=$(sed -n 's/.* - \([A-Za-z0-9_.]*\) (Skipped)$/\1/p' "$native_log" | grep -v 'Contract' | paste -sd' ' || true)

echo "== fuzzing"
"$root/scripts/fuzz.sh" || { echo "FAILED: the fuzz run (scripts/fuzz.sh)"; failed=1; }

source "$root/scripts/wine-lib.sh"
wine_pass "$root/build/cross64" win64 "$jobs"
wine_pass "$root/build/cross64-hardened" win64 "$jobs"
wine_pass "$root/build/cross" win32 "$jobs"
wine_pass "$root/build/cross-hardened" win32 "$jobs"
[ "$wine_passes_failed" = 0 ] || failed=1

summary=$(wine_passes_summary)
[ -z "$native_skipped" ] || summary="$summary; native tests skipped: $native_skipped"
if [ "$failed" -ne 0 ]; then
    echo "SOME TESTS FAILED ($summary)"
    exit 1
fi
if [ ${#wine_passes_skipped[@]} -eq 0 ] && [ -z "$native_skipped" ]; then
    echo "ALL TESTS PASSED ($summary)"
else
    echo "ALL TESTS THAT COULD RUN PASSED ($summary)"
fi
