# After run_value_kinds_test, from the Linux side: `reg query` shows every
# value of the setup hook's list that goes gone and every one that stays
# still there.
kinds_failed=0
kinds_fail() { echo "run_value_kinds check: $*" >&2; kinds_failed=1; }

kinds_names() {  # kinds_names HIVE: the value names of its Run key, one a line
    { quellor_wine reg query "$1\\Software\\Microsoft\\Windows\\CurrentVersion\\Run" 2>/dev/null || true; } |
        tr -d '\r' | awk '/^    [^ ]/ { print $1 }'
}
kinds_hklm=$(kinds_names HKLM)
kinds_hkcu=$(kinds_names HKCU)
kinds_rows=0
while IFS='|' read -r hive name type outcome label rest; do
    kinds_rows=$((kinds_rows + 1))
    if [ "$hive" = HKLM ]; then names=$kinds_hklm; else names=$kinds_hkcu; fi
    if grep -qxF "$name" <<<"$names"; then there=stays; else there=goes; fi
    [ "$there" = "$outcome" ] || kinds_fail "$hive Run $name ($type) $there, but it $outcome"
done < "$DRIVE_C/run-kinds.txt"
[ "$kinds_rows" -gt 0 ] || kinds_fail "the list of values is empty"

[ "$kinds_failed" = 0 ]
