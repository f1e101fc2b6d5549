#!/bin/bash
# Fuzzes every target of fuzz/ (one folder of seeds each in fuzz/corpus/).
#
# Builds the libFuzzer targets with clang in build/fuzz, replays every saved
# input in fuzz/regressions/TARGET/, then fuzzes each target for
# FUZZ_SECONDS seconds (default 15) from its committed seeds and the corpus
# it grew in earlier runs (build/fuzz/corpus/TARGET/). FUZZ_TARGETS limits
# the run to the targets named (blank-separated).
#
# Exit status: 0 when nothing was found; nonzero on a build failure, a
# failing regression input or a new finding. A new finding is kept in
# build/fuzz/findings/; minimise it (TARGET -minimize_crash=1 FILE) and add
# it to fuzz/regressions/TARGET/ with the fix: the ordinary test run replays
# that folder from then on.
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
build="$root/build/fuzz"
seconds="${FUZZ_SECONDS:-15}"
# FUZZ_RUNS ends each target after that many executions if it comes first
# (a campaign: FUZZ_SECONDS=1800 FUZZ_RUNS=10000000 scripts/fuzz.sh).
runs=()
[ -n "${FUZZ_RUNS:-}" ] && runs=(-runs="$FUZZ_RUNS")

targets=${FUZZ_TARGETS:-}
if [ -z "$targets" ]; then
    for folder in "$root"/fuzz/corpus/*/; do targets="$targets $(basename "$folder")"; done
fi

# Configured every time, so a target added since the last run is known.
CC=clang CXX=clang++ cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQUELLOR_FUZZ=ON >/dev/null
# shellcheck disable=SC2086
cmake --build "$build" --target $targets -j2 >/dev/null
mkdir -p "$build/findings"

# Seeds made at run time: the script table's stand-ins come from their
# generator and are never kept as files.
rm -rf "$build/seeds"
for target in $targets; do mkdir -p "$build/seeds/$target"; done
if [ -d "$build/seeds/script_fuzz" ]; then
    python3 "$root/scripts/generate-script-table.py" --stand-ins "$build/seeds/script_fuzz"
fi

for target in $targets; do
    shopt -s nullglob
    regressions=("$root/fuzz/regressions/$target"/*)
    shopt -u nullglob
    if [ ${#regressions[@]} -gt 0 ]; then
        echo "fuzz: replaying fuzz/regressions/$target"
        "$build/$target" -runs=0 "${regressions[@]}" >"$build/$target.regressions.log" 2>&1 || {
            cat "$build/$target.regressions.log"
            echo "fuzz: a saved regression input of $target fails again" >&2
            exit 1
        }
    fi
    echo "fuzz: running $target for ${seconds}s"
    mkdir -p "$build/corpus/$target"
    if ! "$build/$target" -max_total_time="$seconds" "${runs[@]}" -max_len=65536 -timeout=10 \
            -artifact_prefix="$build/findings/$target-" -print_final_stats=1 \
            "$build/corpus/$target" "$root/fuzz/corpus/$target" "$build/seeds/$target" \
            >"$build/$target.log" 2>&1; then
        tail -60 "$build/$target.log"
        echo "fuzz: finding kept in $build/findings/" >&2
        exit 1
    fi
    grep -E "^stat::number_of_executed_units" "$build/$target.log" || true
    grep -E "^#[0-9]+[[:space:]]+DONE" "$build/$target.log" | tail -1 || true
done
echo "fuzz: no finding"
