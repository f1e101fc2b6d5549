# After restart_nt_test, with the prefix's server still up: the deletion is
# recorded in PendingFileRenameOperations, nothing went to wininit.ini, and
# Wine's simulated restart carries the deletion out.
restart_key='HKLM\System\CurrentControlSet\Control\Session Manager'
restart_target="$DRIVE_D/Mail Helper Folder/mail checker.exe"
restart_failed=0
restart_fail() { echo "restart_nt check: $*" >&2; restart_failed=1; }

restart_pending=$(quellor_wine reg query "$restart_key" /v PendingFileRenameOperations 2>/dev/null | tr -d '\r' || true)
printf '%s\n' "$restart_pending" | grep -qF '\??\D:\Mail Helper Folder\mail checker.exe' ||
    restart_fail "no pending deletion recorded: $restart_pending"
[ -f "$restart_target" ] || restart_fail "the file went before the restart"
[ ! -e "$DRIVE_C/windows/wininit.ini" ] || restart_fail "wininit.ini was written on the NT family"

quellor_wine wineboot -r >/dev/null 2>&1 || true
[ ! -e "$restart_target" ] || restart_fail "the simulated restart did not delete the file"

[ "$restart_failed" = 0 ]
