# The program under test, a d: drive large enough for a scan to be stopped
# half-way, and a recorder in place of the web browser so that opening a
# page is seen without anything being opened.
mkdir -p "$DRIVE_C/Quellor"
cp "$(dirname "$program")/Quellor.exe" "$(dirname "$program")/make_demo_samples.exe" "$DRIVE_C/Quellor/"
quellor_wine 'C:\Quellor\make_demo_samples.exe' 'D:\'

for folder in $(seq 1 30); do
    mkdir -p "$DRIVE_D/folder$folder"
    for file in $(seq 1 60); do
        printf 'harmless file %s/%s\r\n' "$folder" "$file" > "$DRIVE_D/folder$folder/file$file.txt"
    done
done

recorder="$SCENARIO_DIR/record-page.sh"
cat > "$recorder" <<RECORDER
#!/bin/sh
printf '%s\n' "\$*" >> "$DRIVE_C/opened-pages.txt"
RECORDER
chmod +x "$recorder"
quellor_reg add 'HKCU\Software\Wine\WineBrowser' /v Browsers /d "$recorder" /f
