# The console scanner and the demo sample maker in C:\Quellor, the demo
# samples on d:.
mkdir -p "$DRIVE_C/Quellor"
for sharing_program in quellor-scan.exe make_demo_samples.exe; do
    cp "$(dirname "$program")/$sharing_program" "$DRIVE_C/Quellor/"
done
quellor_wine 'C:\Quellor\make_demo_samples.exe' 'D:\'
