#!/usr/bin/env bash
# dialog.sh BUILD TREE PLANTED ROUNDS: the dialog's side of the benchmark.
# In a 64-bit Wine prefix of its own (BUILD/bench-prefix, made once) with
# d: mapped to TREE, pinned to one CPU on a virtual display, runs ROUNDS
# interleaved rounds of: bench_walk_probe over c: and d: (the floor: the
# same walk, every file opened, its first 1 KiB and last 4 KiB read), then
# each Quellor*.exe of BUILD/bench-programs timed by bench_dialog_timer from
# SCAN to "Scanning completed". The programs remove what they detect, so the
# planted files (a copy of them in PLANTED, laid out as in TREE) are put
# back before and after every timed scan. Prints one line per run:
#   walk MS FILES
#   PROGRAM MS FILES PEAK_KIB
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$1 tree=$2 planted=$3 rounds=$4
source "$root/scripts/wine-lib.sh"
wine_use_arch win64
wine_require_arch win64
if [ -z "${QUELLOR_ON_VIRTUAL_DISPLAY:-}" ]; then
    export QUELLOR_ON_VIRTUAL_DISPLAY=1
    # The prefix's server is started under the pin too, by the first Wine
    # command of this script.
    exec xvfb-run -a -s "-screen 0 1024x768x24 -nolisten tcp" taskset -c 0 "$0" "$@"
fi
prefix="$build/bench-prefix"
if [ ! -f "$prefix/.ready" ]; then
    wine_make_prefix "$prefix" >&2
    touch "$prefix/.ready"
fi
export WINEPREFIX=$prefix
wine_stop
trap wine_stop EXIT
# One server for the whole run: a server left to end by itself between two
# programs can be found going away by the next one.
quellor_wineserver -p
wine_map_drive d "$tree"
mkdir -p "$prefix/drive_c/Quellor"
cp "$build/bench_walk_probe.exe" "$build/bench_dialog_timer.exe" "$prefix/drive_c/Quellor/"
cd "$prefix/drive_c"
for _ in $(seq "$rounds"); do
    out=$(quellor_wine 'C:\Quellor\bench_walk_probe.exe' 'C:\' 'D:\' | tr -d '\r')
    echo "walk $(awk '{ print $4, $1 }' <<<"$out")"
    for program in "$build"/bench-programs/Quellor*.exe; do
        cp -a "$planted/." "$tree/"
        cp "$program" "$prefix/drive_c/Quellor/Quellor.exe"
        out=$(quellor_wine 'C:\Quellor\bench_dialog_timer.exe' | tr -d '\r')
        cp -a "$planted/." "$tree/"
        echo "$(basename "$program" .exe) $out"
    done
done
