# After restart_win98_test, with the prefix's server still up: wininit.ini
# holds its old sections in order, every line ends in CR LF, the [rename]
# section holds the old entry and the two new short-path entries; Wine's
# simulated restart then processes the section and deletes all three files.
restart_ini="$DRIVE_C/windows/wininit.ini"
restart_folder="$DRIVE_D/Mail Helper Folder"
restart_failed=0
restart_fail() { echo "restart_win98 check: $*" >&2; restart_failed=1; }

if [ -f "$restart_ini" ]; then
    restart_lines=$(wc -l < "$restart_ini")
    restart_crlf=$(grep -c $'\r$' "$restart_ini" || true)
    [ "$restart_lines" = "$restart_crlf" ] || restart_fail "lines without CR LF"
    [ "$(tail -c 2 "$restart_ini" | od -An -c | tr -d ' ')" = '\r\n' ] || restart_fail "last line not ended"
    restart_headers=$(tr -d '\r' < "$restart_ini" | grep '^\[' | tr '\n' ' ')
    [ "$restart_headers" = '[boot] [rename] [386Enh] ' ] || restart_fail "sections: $restart_headers"
    restart_section=$(tr -d '\r' < "$restart_ini" | sed -n '/^\[rename\]$/,/^\[386Enh\]$/p')
    printf '%s\n' "$restart_section" | grep -qx 'NUL=D:\\OLDENTRY.TMP' || restart_fail "old entry lost"
    # Two new entries, both short paths (no blank, a '~' from the 8.3 names).
    restart_new=$(printf '%s\n' "$restart_section" | grep -c '^NUL=D:\\[^ ]*~[^ ]*$' || true)
    [ "$restart_new" = 2 ] || restart_fail "expected 2 short-path entries: $restart_section"
else
    restart_fail "no wininit.ini"
fi
[ ! -e "$DRIVE_C/windows/wininit.new" ] && [ ! -e "$DRIVE_C/windows/wininit.old" ] || restart_fail "leftovers"

quellor_wine wineboot -r >/dev/null 2>&1 || true
[ ! -e "$DRIVE_D/OLDENTRY.TMP" ] || restart_fail "the old entry was not carried out"
[ ! -e "$restart_folder/second stand-in.scr" ] || restart_fail "second file not deleted at the restart"
[ ! -e "$restart_folder/third stand-in.pif" ] || restart_fail "third file not deleted at the restart"
[ -e "$restart_folder/first stand-in.exe" ] || restart_fail "first file deleted without an entry"

[ "$restart_failed" = 0 ]
