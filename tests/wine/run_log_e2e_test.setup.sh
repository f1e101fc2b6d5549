# Both programs and the demo sample maker in C:\Quellor, the demo samples on
# d:.
mkdir -p "$DRIVE_C/Quellor"
for run_log_program in Quellor.exe quellor-scan.exe make_demo_samples.exe; do
    cp "$(dirname "$program")/$run_log_program" "$DRIVE_C/Quellor/"
done
quellor_wine 'C:\Quellor\make_demo_samples.exe' 'D:\'
