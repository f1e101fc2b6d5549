# The console scanner, the dialog program and the demo sample maker, where
# the test program starts them.
mkdir -p "$DRIVE_C/Quellor"
for console_program in quellor-scan.exe Quellor.exe make_demo_samples.exe; do
    cp "$(dirname "$program")/$console_program" "$DRIVE_C/Quellor/"
done
