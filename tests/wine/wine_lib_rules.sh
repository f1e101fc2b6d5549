#!/usr/bin/env bash
# The rules by which the Wine passes run, skip or fail, checked with
# stand-in loaders (no Wine needed): only the kernel's exec-format refusal
# of the 32-bit loader skips, and only the PE32 pass (also a PE32 program
# in a 64-bit prefix); a missing or broken loader fails; the x64 pass never
# skips.
set -uo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
failures=0
expect() {  # expect WHAT WANTED GOT
    if [ "$2" = "$3" ]; then echo "ok: $1"; else echo "FAILED: $1: status $3, expected $2"; failures=$((failures + 1)); fi
}

# A program the kernel refuses as this machine refuses 32-bit ones: a real
# executable whose machine field names no machine.
refused="$scratch/refused"
cp "$(type -P true)" "$refused"
printf '\377\377' | dd of="$refused" bs=1 seek=18 conv=notrunc status=none
chmod +x "$refused"
broken="$scratch/broken"
printf '#!/bin/sh\necho "wine: could not load ntdll.so" >&2\nexit 1\n' > "$broken"
chmod +x "$broken"
working="$scratch/working"
printf '#!/bin/sh\necho wine-8.0\n' > "$working"
chmod +x "$working"

check() {  # check ARCH LOADER: wine_check_arch's status with LOADER as ARCH's loader
    (
        export QUELLOR_WINE32_LOADER=$2 QUELLOR_WINE64_LOADER=$2
        source "$root/scripts/wine-lib.sh"
        wine_check_arch "$1" >"$scratch/reason"
    )
    echo $?
}
require() {  # require ARCH LOADER [QUELLOR_REQUIRE_WINE]: wine_require_arch's exit status
    (
        export QUELLOR_WINE32_LOADER=$2 QUELLOR_WINE64_LOADER=$2 QUELLOR_REQUIRE_WINE=${3:-x64}
        source "$root/scripts/wine-lib.sh"
        wine_require_arch "$1" 2>/dev/null
        exit 0
    )
    echo $?
}

expect "a working 32-bit loader runs" 0 "$(check win32 "$working")"
expect "the kernel's exec-format refusal of the 32-bit loader is the skip reason" 1 "$(check win32 "$refused")"
grep -q 'Exec format error' "$scratch/reason" || { echo "FAILED: the reason does not name the exec-format error"; failures=$((failures + 1)); }
expect "a broken 32-bit loader is a failure" 2 "$(check win32 "$broken")"
expect "a missing 32-bit loader is a failure" 2 "$(check win32 "$scratch/none")"
expect "the 64-bit loader refused is a failure" 2 "$(check win64 "$refused")"
expect "a broken 64-bit loader is a failure" 2 "$(check win64 "$broken")"

expect "the PE32 pass skips on the exec-format refusal" 77 "$(require win32 "$refused")"
expect "the PE32 pass fails there when it is required" 1 "$(require win32 "$refused" all)"
expect "the PE32 pass fails on a broken loader" 1 "$(require win32 "$broken")"
expect "the x64 pass never skips" 1 "$(require win64 "$refused")"
expect "a working loader lets the pass run" 0 "$(require win64 "$working")"

wow64() {  # wow64 LOADER32 [QUELLOR_REQUIRE_WINE]: wine-test.sh's status for a PE32 program in a 64-bit prefix
    QUELLOR_WINE_ARCH=win64 QUELLOR_WINE_PROGRAM_ARCH=win32 QUELLOR_ON_VIRTUAL_DISPLAY=1 \
        QUELLOR_WINE64_LOADER=$working QUELLOR_WINE32_LOADER=$1 QUELLOR_REQUIRE_WINE=${2:-x64} \
        "$root/scripts/wine-test.sh" "$scratch/wine" probe "$scratch/probe.exe" "$scratch" >/dev/null 2>&1
    echo $?
}
expect "a PE32 program under WoW64 skips on the exec-format refusal" 77 "$(wow64 "$refused")"
expect "a PE32 program under WoW64 fails there when the PE32 pass is required" 1 "$(wow64 "$refused" all)"
expect "a PE32 program under WoW64 fails on a broken 32-bit loader" 1 "$(wow64 "$broken")"

[ "$failures" = 0 ]
