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
wine_pass "$root/build/cross64" win64 "$jobs"
wine_pass "$root/build/cross64-hardened" win64 "$jobs"
wine_pass "$root/build/cross" win32 "$jobs"
wine_pass "$root/build/cross-hardened" win32 "$jobs"
[ "$wine_passes_failed" = 0 ] || failed=1

summary=$(wine_passes_summary)
if [ "$failed" -ne 0 ]; then
    echo "SOME TESTS FAILED ($summary)"
    exit 1
fi
if [ ${#wine_passes_skipped[@]} -eq 0 ]; then
    echo "ALL TESTS PASSED ($summary)"
else
    echo "ALL TESTS THAT COULD RUN PASSED ($summary)"
fi
