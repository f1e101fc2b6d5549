#!/usr/bin/env bash
# Runs every test: installs what is missing, builds both builds, runs the
# native unit tests, the fuzz run, then the Win32 tests under Wine.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
jobs=${JOBS:-$(nproc)}

"$root/scripts/setup.sh"
"$root/scripts/build.sh"

failed=0
echo "== native unit tests"
(cd "$root/build/native" && ctest --output-on-failure -j "$jobs") || failed=1

if [ -x "$root/scripts/fuzz.sh" ]; then
    echo "== fuzzing"
    "$root/scripts/fuzz.sh" || failed=1
fi

echo "== Win32 tests under Wine"
source "$root/scripts/wine-lib.sh"
wine_skipped=""
if wine_skipped=$(wine_unavailable_reason); then
    if [ "${QUELLOR_REQUIRE_WINE:-0}" = 1 ]; then
        echo "Wine is required (QUELLOR_REQUIRE_WINE=1) but cannot run: $wine_skipped"
        failed=1
    else
        echo "WINE TESTS WILL BE SKIPPED: $wine_skipped"
    fi
else
    wine_skipped=""
fi
# A fresh prefix for every run of the tests; the Wine tests run over the
# shipped build and again over the hardened one.
for cross in cross cross-hardened; do
    echo "== $cross"
    rm -rf "$root/build/$cross/wine"
    (cd "$root/build/$cross" && ctest --output-on-failure -j "$jobs") || failed=1
done

if [ "$failed" -ne 0 ]; then
    echo "SOME TESTS FAILED"
    exit 1
fi
if [ -n "$wine_skipped" ]; then
    echo "ALL TESTS THAT COULD RUN PASSED; the Wine tests were skipped: $wine_skipped"
else
    echo "ALL TESTS PASSED"
fi
