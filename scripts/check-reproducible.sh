#!/usr/bin/env bash
# check-reproducible.sh SOURCE BUILD TOOLCHAIN
# Builds Quellor.exe and quellor-scan.exe a second time from SOURCE, in a
# folder of another name and depth than BUILD, and fails unless both come
# out byte for byte the same as BUILD's. A user checks a download the same
# way: same commit, same Debian compilers, then cmp.
set -euo pipefail
source=$1 build=$2 toolchain=$3
second="$build/reproduced/elsewhere"
rm -rf "$build/reproduced"
cmake -S "$source" -B "$second" -DCMAKE_BUILD_TYPE=Release -DCMAKE_TOOLCHAIN_FILE="$toolchain" >/dev/null
cmake --build "$second" --target Quellor quellor-scan -j "${JOBS:-2}" >/dev/null
status=0
for program in Quellor.exe quellor-scan.exe; do
    if cmp -s "$build/$program" "$second/$program"; then
        echo "$program: the same $(stat -c %s "$build/$program") bytes from both builds"
    else
        echo "$program differs between $build and $second:"
        cmp -l "$build/$program" "$second/$program" | head -n 8
        status=1
    fi
done
rm -rf "$build/reproduced"
exit "$status"
