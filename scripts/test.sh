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
# A fresh prefix for every run of the tests.
rm -rf "$root/build/cross/wine"
(cd "$root/build/cross" && ctest --output-on-failure -j "$jobs") || failed=1

if [ "$failed" -ne 0 ]; then
    echo "SOME TESTS FAILED"
    exit 1
fi
echo "ALL TESTS PASSED"
