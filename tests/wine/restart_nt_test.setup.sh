# Delete-on-restart on the NT family: Wine reports Windows XP.
wine_set_version winxp
# The console scanner, for the check hook to restore what was kept.
mkdir -p "$DRIVE_C/Quellor"
cp "$(dirname "$program")/quellor-scan.exe" "$DRIVE_C/Quellor/"
