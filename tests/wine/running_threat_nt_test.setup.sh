# Quellor.exe as a user installs it, and the waiter program the test turns
# into a running threat and a bystander.
mkdir -p "$DRIVE_C/Quellor"
cp "$(dirname "$program")/Quellor.exe" "$DRIVE_C/Quellor/"
cp "$(dirname "$program")/test_waiter.exe" "$DRIVE_C/tests/"
