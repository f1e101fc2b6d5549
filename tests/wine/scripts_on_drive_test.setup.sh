# The program under test, where the driver starts it.
mkdir -p "$DRIVE_C/Quellor"
cp "$(dirname "$program")/Quellor.exe" "$DRIVE_C/Quellor/"
