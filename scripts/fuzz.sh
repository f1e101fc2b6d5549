#!/bin/bash
# Fuzzes the PE header reader and the signature matchers
# (fuzz/signature_fuzz.cpp) and the encrypted-archive detectors
# (fuzz/archive_fuzz.cpp) and the performance-data readers
# (fuzz/perfdata_fuzz.cpp).
#
# Builds the libFuzzer targets with clang in build/fuzz, replays every saved
# input in fuzz/regressions/, then fuzzes each target for FUZZ_SECONDS
# seconds (default 15) starting from a few small seed files made here.
#
# Exit status: 0 when nothing was found; nonzero on a build failure, a
# failing regression input or a new finding. A new finding is kept in
# build/fuzz/findings/; minimise it (signature_fuzz -minimize_crash=1) and
# add it to fuzz/regressions/ with the fix.
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
build="$root/build/fuzz"
seconds="${FUZZ_SECONDS:-15}"

if [ ! -f "$build/CMakeCache.txt" ]; then
    CC=clang CXX=clang++ cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
fi
cmake --build "$build" --target signature_fuzz archive_fuzz perfdata_fuzz -j2 >/dev/null
fuzzer="$build/signature_fuzz"

echo "fuzz: replaying fuzz/regressions"
shopt -s nullglob
regressions=("$root"/fuzz/regressions/*)
if [ ${#regressions[@]} -gt 0 ]; then
    "$fuzzer" "${regressions[@]}" >"$build/regressions.log" 2>&1 || {
        cat "$build/regressions.log"
        echo "fuzz: a saved regression input fails again" >&2
        exit 1
    }
fi

# Seeds: the shapes the readers know, kept tiny.
seeds="$build/seeds"
rm -rf "$seeds"
mkdir -p "$seeds" "$build/corpus" "$build/findings"
python3 - "$seeds" <<'PYTHON'
import struct, sys, os
out = sys.argv[1]

def pe(sections, header_at=0x80, length=1024, entry=0x1010):
    data = bytearray(length)
    data[0:2] = b"MZ"
    struct.pack_into("<I", data, 60, header_at)
    data[header_at:header_at + 4] = b"PE\0\0"
    struct.pack_into("<HH", data, header_at + 4, 0x14C, len(sections))
    struct.pack_into("<H", data, header_at + 24, 0x10B)
    struct.pack_into("<I", data, header_at + 24 + 16, entry)
    struct.pack_into("<I", data, header_at + 24 + 60, 0x200)
    for i, (vsize, vaddr, raw) in enumerate(sections):
        at = header_at + 248 + 40 * i
        data[at:at + 8] = b".sect%d\0\0" % i if i < 10 else b".sect\0\0\0"
        struct.pack_into("<III", data, at + 8, vsize, vaddr, 0)
        struct.pack_into("<I", data, at + 20, raw)
    return bytes(data)

def rar_like():
    data = bytearray(7 + 13 + 32 + 8)
    data[0:7] = b"Rar!\x1a\x07\x00"
    struct.pack_into("<H", data, 5, 7)
    struct.pack_into("<H", data, 7 + 5, 13)
    file_at = 20
    struct.pack_into("<H", data, file_at + 3, 0x04)
    struct.pack_into("<II", data, file_at + 7, 45000, 45000)
    data[file_at + 25] = ord("0")
    struct.pack_into("<H", data, file_at + 26, 8)
    data[file_at + 32:file_at + 40] = b"MAIL.SCR"
    return bytes(data)

def zip_like(length=1200):
    data = bytearray(length)
    data[0:4] = b"PK\x03\x04"
    return bytes(data)

def perf_block(names):
    data = bytearray(64)
    data[0:8] = "PERF".encode("utf-16-le")
    struct.pack_into("<I", data, 24, 64)
    obj = bytearray(64)
    struct.pack_into("<III", obj, 4, 64 + 80, 64, 230)
    struct.pack_into("<I", obj, 32, 2)
    struct.pack_into("<I", obj, 40, len(names))
    counters = bytearray(80)
    struct.pack_into("<I", counters, 4, 6)
    struct.pack_into("<I", counters, 36, 8)
    struct.pack_into("<I", counters, 44, 784)
    struct.pack_into("<I", counters, 76, 16)
    data += obj + counters
    for pid, name in enumerate(names, start=4):
        text = (name + "\0").encode("utf-16-le")
        length = (24 + len(text) + 7) // 8 * 8
        inst = bytearray(length)
        struct.pack_into("<I", inst, 0, length)
        struct.pack_into("<II", inst, 16, 24, len(text))
        inst[24:24 + len(text)] = text
        block = bytearray(24)
        struct.pack_into("<I", block, 0, 24)
        struct.pack_into("<I", block, 16, pid)
        data += inst + block
    return bytes(data)

seeds = {
    "pe-no-sections": pe([]),
    "pe-two-sections": pe([(0x200, 0x1000, 0x400), (0x100, 0x2000, 0x600)]),
    "pe-twenty-one-sections": pe([(0x10, 0x1000 * (i + 1), 0x400) for i in range(21)], length=2048),
    "pe-header-at-zero": b"PE\0\0" + bytes(300),
    "zip-like": zip_like(),
    "rar-like": rar_like(),
    "empty": b"",
    "perf-block": perf_block(["Idle", "System", "svchost", "svchost#1"]),
    "perf-counters": b"1\x001847\x00230\x00Process\x00784\x00ID Process\x00\x00",
}
for name, data in seeds.items():
    with open(os.path.join(out, name), "wb") as f:
        f.write(data)
PYTHON

for target in signature_fuzz archive_fuzz perfdata_fuzz; do
    echo "fuzz: running $target for ${seconds}s"
    mkdir -p "$build/corpus/$target"
    if ! "$build/$target" -max_total_time="$seconds" -max_len=65536 -timeout=10 \
            -artifact_prefix="$build/findings/$target-" -print_final_stats=1 \
            "$build/corpus/$target" "$seeds" >"$build/$target.log" 2>&1; then
        tail -60 "$build/$target.log"
        echo "fuzz: finding kept in $build/findings/" >&2
        exit 1
    fi
    grep -E "^stat::number_of_executed_units" "$build/$target.log" || true
done
echo "fuzz: no finding"
