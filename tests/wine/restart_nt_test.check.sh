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

restart_locked="$DRIVE_D/Locked Tools/locked tool.exe"
printf '%s\n' "$restart_pending" | grep -qF '\??\D:\Locked Tools\locked tool.exe' ||
    restart_fail "no pending deletion of the locked file recorded"

quellor_wine wineboot -r >/dev/null 2>&1 || true
[ ! -e "$restart_target" ] || restart_fail "the simulated restart did not delete the file"

# The locked file went at the restart; its copy stayed in the quarantine and
# brings it back byte for byte.
[ ! -e "$restart_locked" ] || restart_fail "the simulated restart did not delete the locked file"
restart_list=$(quellor_wine 'C:\Quellor\quellor-scan.exe' --quarantine-list --json 2>/dev/null | tr -d '\r' || true)
restart_id=$(printf '%s\n' "$restart_list" | grep -F 'Locked Tools' | sed -n 's/.*"id":"\([0-9A-F]\{8\}\)".*/\1/p' | head -1)
[ -n "$restart_id" ] || restart_fail "the locked file is not in the quarantine after the restart: $restart_list"
if [ -n "$restart_id" ]; then
    quellor_wine 'C:\Quellor\quellor-scan.exe' --restore "$restart_id" >/dev/null 2>&1 ||
        restart_fail "quellor-scan.exe --restore $restart_id failed"
    [ "$(cat "$restart_locked" 2>/dev/null)" = "MZ harmless stand-in, held open by the test" ] ||
        restart_fail "the restored locked file is not what it was"
fi

[ "$restart_failed" = 0 ]
