# Delete-on-restart on the Windows 95/98/ME family: Wine reports Windows 98.
# The program copies this wininit.ini into the Windows folder; its [rename]
# section already holds an entry for a file made here, so the check can see
# that the old entries still work after the rewrite.
wine_set_version win98
printf 'old stand-in\r\n' > "$DRIVE_D/OLDENTRY.TMP"
printf '%s\r\n' \
    '[boot]' \
    'shell=Explorer.exe' \
    '' \
    '[rename]' \
    'NUL=D:\OLDENTRY.TMP' \
    '[386Enh]' \
    'device=*vshare' \
    > "$DRIVE_C/tests/wininit.prepared"
