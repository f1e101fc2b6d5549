# Two holes of exactly 4 GiB on d:, made from the Linux side so that they
# take no room on the disk; the test program writes a head and a tail.
mkdir -p "$DRIVE_D/Huge"
truncate -s 4G "$DRIVE_D/Huge/huge.exe" "$DRIVE_D/Huge/huge.vbs"
