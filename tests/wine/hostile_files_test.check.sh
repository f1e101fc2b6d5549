# After hostile_files_test, from the Linux side: the files that had to stay
# are there (the huge ones still past 4 GiB), the detected ones are gone, and
# the deletion scheduled under a short name takes the file with the long
# name at Wine's simulated restart.
hostile_failed=0
hostile_fail() { echo "hostile_files check: $*" >&2; hostile_failed=1; }

hostile_held='Hostile/書類ф.exe'
hostile_expected=$(printf '%s\n' "$hostile_held" 'Hostile/Apple.exe' 'Hostile/Папка/чисто.txt' 'Huge/huge.exe' 'Huge/huge.vbs' |
    LC_ALL=C sort)
hostile_found=$(cd "$DRIVE_D" && find . -type f | sed 's|^\./||' | LC_ALL=C sort)
[ "$hostile_found" = "$hostile_expected" ] ||
    hostile_fail "files on d: differ from the expected ones:
$(diff <(printf '%s\n' "$hostile_expected") <(printf '%s\n' "$hostile_found"))"
for huge in huge.exe huge.vbs; do
    size=$(stat -c %s "$DRIVE_D/Huge/$huge" 2>/dev/null || echo 0)
    [ "$size" -gt 4294967296 ] || hostile_fail "Huge/$huge is $size bytes"
done

quellor_wine wineboot -r >/dev/null 2>&1 || true
[ ! -e "$DRIVE_D/$hostile_held" ] || hostile_fail "the simulated restart did not delete $hostile_held"

[ "$hostile_failed" = 0 ]
