# The program under test, where the driver starts it.
mkdir -p "$DRIVE_C/Quellor" "$DRIVE_C/shots"
cp "$(dirname "$program")/Quellor.exe" "$DRIVE_C/Quellor/"
