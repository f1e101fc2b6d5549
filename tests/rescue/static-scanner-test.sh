#!/usr/bin/env bash
# static-scanner-test.sh STATIC NATIVE MAKE_DISK: the statically linked
# quellor-scan (build/rescue/quellor-scan-linux-x86_64) runs in an empty
# root that holds nothing but itself, a Windows disk and /proc, which every
# Linux system mounts and the scanner reaches a checked file through (no C
# library, no libhivex, no iconv modules), and gives the same results as the native
# build on the same disk: a report, a cleaning with quarantine and log, the
# quarantine's list, and the same disk afterwards, cleaned as it should be.
# Exit 77 (skipped) where chroot is not allowed (not root).
set -uo pipefail
static=$(realpath "$1") native=$(realpath "$2") make_disk=$(realpath "$3")
work=${STATIC_TEST_DIR:-$(dirname "$static")/static-test}
status=0
fail() { echo "FAILED: $*"; status=1; }
ok() { echo "ok: $*"; }

[ "$(id -u)" = 0 ] || { echo "SKIPPED: chroot needs root"; exit 77; }
readelf -l "$static" | grep -q INTERP && fail "$static asks for a program interpreter"
readelf -d "$static" | grep -q NEEDED && fail "$static needs shared libraries: $(readelf -d "$static" | grep NEEDED)"

[ -d "$work/jail/proc" ] && umount "$work/jail/proc" 2>/dev/null
rm -rf "$work"
mkdir -p "$work/jail/bin" "$work/jail/tmp" "$work/jail/proc" "$work/native"
cd "$work"
mount -t proc proc jail/proc || { echo "FAILED: /proc cannot be mounted in the empty root"; exit 1; }
trap 'umount "$work/jail/proc"' EXIT
"$make_disk" windows before || exit 1
cp -a before jail/disk
cp -a before native/disk
cp "$static" jail/bin/quellor-scan
[ -z "$(find jail -path jail/proc -prune -o \( -name 'libhivex*' -o -name 'libc.so*' -o -name gconv \) -print)" ] && ok "the empty root holds no library" ||
    fail "the empty root holds a library"

# run NAME ARGS...: both scanners with the same arguments, each on its
# own copy; outputs with the copy's place, ids and times made alike.
run() {
    local name=$1 s n
    shift
    chroot jail /bin/quellor-scan "$@" >"$name.static.out" 2>"$name.static.err"
    s=$?
    (cd native && "$native" "$@" >"../$name.native.out" 2>"../$name.native.err")
    n=$?
    [ "$s" = "$n" ] && ok "$name: exit status $s from both" || fail "$name: exit status $s (static), $n (native)"
    for kind in out err; do
        for build in static native; do
            # The quarantine records where each file was: / in the empty root.
            sed -E "s|$work/native/|/|g; s/[0-9A-F]{8}/ID/g; s/[0-9]{4}-[0-9]{2}-[0-9]{2} [0-9:]{8} UTC/TIME/g" \
                "$name.$build.$kind" >"$name.$build.$kind.same"
        done
        if cmp -s "$name.static.$kind.same" "$name.native.$kind.same"; then
            ok "$name: the same standard $kind ($(wc -l <"$name.static.$kind") lines)"
        else
            fail "$name: standard $kind differs"
            diff "$name.native.$kind.same" "$name.static.$kind.same" | head -n 20
        fi
    done
}
run report --offline disk --json
run clean --offline disk --remove --quarantine quarantine --log run.log
run list --quarantine quarantine --quarantine-list
grep -q 'registry hive before cleaning' list.static.out && ok "the hives were kept before their change" ||
    fail "no hive was kept: the static scanner did not change the registry"

"$make_disk" check before jail/disk || fail "the static scanner did not clean the disk as it should"
"$make_disk" check before native/disk || fail "the native scanner did not clean the disk as it should"
# A cleaned hive carries the time of its cleaning in its header, so the
# hives are compared by what they hold (the checks above), the rest byte
# for byte.
if diff -r -x Quellor.log -x software -x SYSTEM -x NTUSER.DAT -x ntuser.dat jail/disk native/disk >/dev/null; then
    ok "both disks the same afterwards"
else
    fail "the disks differ afterwards"
fi
[ "$status" = 0 ] && echo "static scanner tests: all passed" || echo "static scanner tests: FAILED"
exit "$status"
