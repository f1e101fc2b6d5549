# The run command's demo, as scripts/run.sh sets it up: the program and the
# sample maker in C:\Quellor, the demo drive's documents and its harmless
# detectable samples on d:.
mkdir -p "$DRIVE_C/Quellor"
cp "$(dirname "$program")/Quellor.exe" "$(dirname "$program")/make_demo_samples.exe" "$DRIVE_C/Quellor/"
"$here/make-demo-drive.sh" "$DRIVE_D"
quellor_wine 'C:\Quellor\make_demo_samples.exe' 'D:\'
run_demo_before=$(cd "$DRIVE_D" && find . -type f | LC_ALL=C sort)
