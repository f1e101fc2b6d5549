# After infected_scan_test, from the Linux side: d: holds exactly the files
# that had to stay, the registry lost exactly the traces of the infected
# files, and the file that was in use is pending deletion at the next start.
infected_failed=0
infected_fail() { echo "infected_scan check: $*" >&2; infected_failed=1; }

infected_expected=$(printf '%s\n' \
    'Archives/big.zip' 'Archives/lookalike-worm.zip' 'Archives/notes.zip' 'Archives/open.zip' \
    'Infected/deep/same-size.exe' 'Infected/lookalike-byte.exe' 'Infected/lookalike-length.exe' \
    'Locked/inuse.exe' 'Rename/dir.x1/readme' 'Rename/mail.Vxe' 'readme.txt' | LC_ALL=C sort)
infected_found=$(cd "$DRIVE_D" && find . -type f | sed 's|^\./||' | LC_ALL=C sort)
[ "$infected_found" = "$infected_expected" ] ||
    infected_fail "files on d: differ from the expected ones:
$(diff <(printf '%s\n' "$infected_expected") <(printf '%s\n' "$infected_found"))"

infected_query() {  # infected_query KEY: the value names of KEY, one a line
    { quellor_wine reg query "$1" 2>/dev/null || true; } | tr -d '\r' | awk '/^    [^ ]/ { print $1 }' | LC_ALL=C sort
}
infected_run=$(infected_query 'HKCU\Software\Microsoft\Windows\CurrentVersion\Run')
infected_run_lm=$(infected_query 'HKLM\Software\Microsoft\Windows\CurrentVersion\Run')
infected_ru1n=$(infected_query 'HKCU\Software\Microsoft\Windows\CurrentVersion\Ru1n')
infected_params=$(infected_query 'HKCU\Software\Microsoft\Params')

for name in rate.exe Hidden Hidden2 WormZip InUse; do
    grep -qx "$name" <<<"$infected_run" && infected_fail "HKCU Run $name is still there"
done
for name in wersds.exe winshost.exe MailUpdate; do
    grep -qx "$name" <<<"$infected_run_lm" && infected_fail "HKLM Run $name is still there"
done
grep -qx erthgdr <<<"$infected_ru1n" && infected_fail "HKCU Ru1n erthgdr is still there"
grep -qx TimeKey <<<"$infected_params" && infected_fail "Params TimeKey is still there"
grep -qx riga <<<"$infected_params" || infected_fail "Params riga is gone"
for name in ssate.exe bawindo key directs.exe au.exe HiddenAfter Empty LoneQuote Photos; do
    grep -qx "$name" <<<"$infected_run" || infected_fail "HKCU Run $name is gone"
done
for name in SetupBackup LaterInLine ShortOne; do
    grep -qx "$name" <<<"$infected_run_lm" || infected_fail "HKLM Run $name is gone"
done
[ "$(grep -c '^Unrelated' <<<"$infected_run")" = 14 ] || infected_fail "HKCU lost unrelated Run values"
[ "$(grep -c '^Unrelated' <<<"$infected_run_lm")" = 6 ] || infected_fail "HKLM lost unrelated Run values"
quellor_wine reg query 'HKCU\Software\winword' >/dev/null 2>&1 && infected_fail "HKCU\\Software\\winword is still there"
quellor_wine reg query 'HKCU\Software\DateTime4' >/dev/null 2>&1 || infected_fail "HKCU\\Software\\DateTime4 is gone"

infected_pending=$(quellor_wine reg query 'HKLM\System\CurrentControlSet\Control\Session Manager' \
    /v PendingFileRenameOperations 2>/dev/null | tr -d '\r' || true)
grep -qiF '\??\D:\Locked\inuse.exe' <<<"$infected_pending" ||
    infected_fail "the file in use is not pending deletion: $infected_pending"

[ "$infected_failed" = 0 ]
