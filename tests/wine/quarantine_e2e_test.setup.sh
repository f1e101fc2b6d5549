# Both programs and the demo sample maker in C:\Quellor, the demo samples on
# d:, and a copy of them on the Linux side (outside every drive of the
# prefix) for the check hook to compare with.
mkdir -p "$DRIVE_C/Quellor"
for quarantine_program in Quellor.exe quellor-scan.exe make_demo_samples.exe; do
    cp "$(dirname "$program")/$quarantine_program" "$DRIVE_C/Quellor/"
done
quellor_wine 'C:\Quellor\make_demo_samples.exe' 'D:\'
cp -a "$DRIVE_D" "$SCENARIO_DIR/originals"
