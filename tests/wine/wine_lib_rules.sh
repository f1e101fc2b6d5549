#!/usr/bin/env bash
# The rules by which the Wine passes run natively, run under user-mode
# emulation, skip or fail, checked with stand-in loaders and emulators (no
# Wine needed): only the kernel's exec-format refusal of the 32-bit loader
# calls for the emulation, never a loader that runs; a refused loader with
# no usable emulation skips, and only the PE32 pass (also a PE32 program in
# a 64-bit prefix), unless that pass is required; a missing or broken
# loader, or one that fails under the emulation, fails; the x64 pass never
# skips and is never emulated. The emulation's handler exists only inside
# the namespace a test makes, and the run's summary names each pass for
# what it was.
set -uo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
failures=0
expect() {  # expect WHAT WANTED GOT
    if [ "$2" = "$3" ]; then echo "ok: $1"; else echo "FAILED: $1: got '$3', expected '$2'"; failures=$((failures + 1)); fi
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

# Stand-ins for the emulator, handed the refused program as qemu-i386 is
# handed i386 ones: the emulation's binfmt_misc entry matches the refused
# program's machine field instead of the i386 header.
export QUELLOR_WINE_EMULATED_ELF='\x7fELF\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\xff\xff:\xff\xff\xff\xff\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\xff\xff'
emulator="$scratch/emulator"
cat > "$emulator" <<'STANDIN'
#!/bin/sh
[ "$1" = --version ] && { echo "qemu-i386 version 10.0.2"; exit 0; }
[ "$2" = --version ] && echo "wine-8.0 (emulated)"
STANDIN
old_emulator="$scratch/old-emulator"
printf '#!/bin/sh\necho "qemu-i386 version 7.2.0"\n' > "$old_emulator"
broken_emulator="$scratch/broken-emulator"
cat > "$broken_emulator" <<'STANDIN'
#!/bin/sh
[ "$1" = --version ] && { echo "qemu-i386 version 10.0.2"; exit 0; }
echo "qemu: unhandled CPU exception" >&2
exit 1
STANDIN
chmod +x "$emulator" "$old_emulator" "$broken_emulator"
no_emulator="$scratch/no-emulator"

# Each helper takes the 32-bit loader, then optionally the 64-bit loader
# (the working one unless named), the emulator (none unless named) and
# QUELLOR_REQUIRE_WINE, in the environment of a subshell.
with() {  # with LOADER32 LOADER64 EMULATOR REQUIRE COMMAND...
    (
        export QUELLOR_WINE32_LOADER=$1 QUELLOR_WINE64_LOADER=$2 QUELLOR_QEMU_I386=$3 QUELLOR_REQUIRE_WINE=$4
        shift 4
        source "$root/scripts/wine-lib.sh"
        "$@"
    )
}
check() {  # check ARCH LOADER [EMULATOR]: wine_check_arch's status with LOADER as both loaders
    with "$2" "$2" "${3:-$no_emulator}" x64 wine_check_arch "$1" >"$scratch/reason"
    echo $?
}
require() {  # require ARCH LOADER [QUELLOR_REQUIRE_WINE] [EMULATOR]: wine_require_arch's exit status
    with "$2" "$2" "${4:-$no_emulator}" "${3:-x64}" require_in_subshell "$1"
    echo $?
}
require_in_subshell() { wine_require_arch "$1" 2>/dev/null; exit 0; }

expect "a working 32-bit loader runs natively" 0 "$(check win32 "$working")"
expect "a working 32-bit loader runs natively, also where an emulator is installed" 0 "$(check win32 "$working" "$emulator")"
expect "the kernel's exec-format refusal with no emulator is the skip reason" 1 "$(check win32 "$refused")"
grep -q 'Exec format error' "$scratch/reason" || { echo "FAILED: the reason does not name the exec-format error"; failures=$((failures + 1)); }
grep -q 'not installed' "$scratch/reason" || { echo "FAILED: the reason does not name the missing emulator"; failures=$((failures + 1)); }
expect "an emulator older than the oldest that runs Wine is no emulator" 1 "$(check win32 "$refused" "$old_emulator")"
expect "the exec-format refusal with an emulator calls for the emulation" 3 "$(check win32 "$refused" "$emulator")"
expect "a 32-bit loader that fails under the emulation is a failure" 2 "$(check win32 "$refused" "$broken_emulator")"
expect "a broken 32-bit loader is a failure, emulator or not" 2 "$(check win32 "$broken" "$emulator")"
expect "a missing 32-bit loader is a failure" 2 "$(check win32 "$scratch/none" "$emulator")"
expect "the 64-bit loader refused is a failure, never emulated" 2 "$(check win64 "$refused" "$emulator")"
expect "a broken 64-bit loader is a failure" 2 "$(check win64 "$broken")"

expect "the PE32 pass skips on the exec-format refusal with no emulator" 77 "$(require win32 "$refused")"
expect "the PE32 pass fails there when it is required" 1 "$(require win32 "$refused" all)"
expect "the PE32 pass fails there when it is required and the emulator is too old" 1 "$(require win32 "$refused" all "$old_emulator")"
expect "the PE32 pass runs under the emulation when it is required" 0 "$(require win32 "$refused" all "$emulator")"
expect "the PE32 pass fails on a broken loader" 1 "$(require win32 "$broken")"
expect "the x64 pass never skips" 1 "$(require win64 "$refused" x64 "$emulator")"
expect "a working loader lets the pass run" 0 "$(require win64 "$working")"

# A test script as wine-test.sh starts: requires the PE32 loader, enters
# the emulation where needed, then runs the loader and says where it ran.
probe="$scratch/probe.sh"
cat > "$probe" <<PROBE
#!/usr/bin/env bash
source "$root/scripts/wine-lib.sh"
wine_require_arch "\${1:-win32}"
wine_enter_emulation "\$0" "\$@"
where="no emulation"
[ -z "\${QUELLOR_WINE_EMULATED:-}" ] || where="the emulation"
echo "\$("\$WINELOADER" --version 2>&1) in \$where as \$(id -u)"
PROBE
chmod +x "$probe"
expect "a refused PE32 program runs inside the emulation, as the caller's own user" \
    "wine-8.0 (emulated) in the emulation as $(id -u)" "$(QUELLOR_WINE_ARCH=win32 with "$refused" "$working" "$emulator" x64 "$probe")"
expect "a PE32 program that runs natively runs outside any emulation" \
    "wine-8.0 in no emulation as $(id -u)" "$(QUELLOR_WINE_ARCH=win32 with "$working" "$working" "$emulator" x64 "$probe")"
if [ "$(id -u)" = 0 ]; then
    # Root's namespaces map root to itself: the same once more as another user.
    chmod 755 "$scratch"
    expect "a refused PE32 program run by another user than root runs inside the emulation, as that user" \
        "wine-8.0 (emulated) in the emulation as 65534" \
        "$(setpriv --reuid=65534 --regid=65534 --clear-groups env QUELLOR_WINE_ARCH=win32 QUELLOR_WINE32_LOADER="$refused" \
            QUELLOR_WINE64_LOADER="$working" QUELLOR_QEMU_I386="$emulator" "$probe" 2>&1)"
fi
# The emulation's handler is seen only inside its namespace: while one
# lives, and after it is gone, the refused program stays refused outside.
with "$refused" "$working" "$emulator" x64 wine_in_emulation sh -c \
    'touch "$1/inside"; while [ ! -e "$1/outside-checked" ]; do sleep 0.1; done' sh "$scratch" &
inside=$!
for _ in $(seq 100); do [ -e "$scratch/inside" ] || sleep 0.1; done
[ -e "$scratch/inside" ] || { echo "FAILED: no namespace of the emulation was made"; failures=$((failures + 1)); }
"$refused" 2>/dev/null
expect "while a namespace of the emulation lives, the refused program is refused outside it" 126 "$?"
touch "$scratch/outside-checked"
wait "$inside"
"$refused" 2>/dev/null
expect "once the namespace is gone, the refused program is refused here" 126 "$?"

wow64() {  # wow64 LOADER32 QUELLOR_REQUIRE_WINE SCRIPT ARGUMENT...: SCRIPT's status for a PE32 program in a 64-bit prefix
    local loader=$1 require=$2
    shift 2
    QUELLOR_WINE_ARCH=win64 QUELLOR_WINE_PROGRAM_ARCH=win32 QUELLOR_ON_VIRTUAL_DISPLAY=1 \
        with "$loader" "$working" "$no_emulator" "$require" "$@" >/dev/null 2>&1
    echo $?
}
wow64_test=("$root/scripts/wine-test.sh" "$scratch/wine" probe "$scratch/probe.exe" "$scratch")
expect "a PE32 program under WoW64 skips on the exec-format refusal with no emulator" 77 "$(wow64 "$refused" x64 "${wow64_test[@]}")"
expect "a PE32 program under WoW64 fails there when the PE32 pass is required" 1 "$(wow64 "$refused" all "${wow64_test[@]}")"
expect "a PE32 program under WoW64 fails on a broken 32-bit loader" 1 "$(wow64 "$broken" x64 "${wow64_test[@]}")"
expect "the WoW64 prefix for PE32 programs skips on the exec-format refusal with no emulator" 77 \
    "$(wow64 "$refused" x64 "$root/scripts/wine-prefix.sh" base "$scratch/wine")"

# Whole passes over stand-in builds: each build's one test is the probe of
# its architecture, skipped (77) where it cannot run.
for build in cross64:win64 cross:win32; do
    mkdir -p "$scratch/build/${build%%:*}"
    printf 'add_test(probe "%s" %s)\nset_tests_properties(probe PROPERTIES SKIP_RETURN_CODE 77)\n' \
        "$probe" "${build##*:}" > "$scratch/build/${build%%:*}/CTestTestfile.cmake"
done
passes() {  # passes LOADER32 EMULATOR [QUELLOR_REQUIRE_WINE]: the summary line, then whether a pass failed
    with "$1" "$working" "$2" "${3:-x64}" passes_in_subshell
}
passes_in_subshell() {
    wine_pass "$scratch/build/cross64" win64 >/dev/null
    wine_pass "$scratch/build/cross" win32 >/dev/null
    wine_passes_summary | sed 's/([0-9]* s)/(N s)/g'
    echo "failed: $wine_passes_failed"
}
expect "the summary names the PE32 pass emulated where the kernel refuses it" \
    "Wine passes run natively: cross64 (N s); under user-mode emulation: cross (N s); skipped: none
failed: 0" "$(passes "$refused" "$emulator")"
expect "the summary names both passes native where the kernel runs both" \
    "Wine passes run natively: cross64 (N s), cross (N s); under user-mode emulation: none; skipped: none
failed: 0" "$(passes "$working" "$emulator")"
expect "the summary names the PE32 pass skipped where there is no emulator" \
    "Wine passes run natively: cross64 (N s); under user-mode emulation: none; skipped: cross
failed: 0" "$(passes "$refused" "$no_emulator")"
expect "a missing emulator fails the run when every pass is required" \
    "Wine passes run natively: cross64 (N s); under user-mode emulation: none; skipped: cross
failed: 1" "$(passes "$refused" "$no_emulator" all)"

[ "$failures" = 0 ]
