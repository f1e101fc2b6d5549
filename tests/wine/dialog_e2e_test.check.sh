# The pages the download button and the utilities link asked for, and the screenshots as PNG files in
# the build folder for people to look at.
for page in http://www.example.com/halvex http://www.example.com/ferovan/tools; do
    grep -qx "$page" "$DRIVE_C/opened-pages.txt" || {
        echo "$page was not opened:"; cat "$DRIVE_C/opened-pages.txt" 2>/dev/null; false; }
done
shots="$(dirname "$program")/screenshots"
mkdir -p "$shots"
for shot in "$DRIVE_C"/shots/*.bmp; do
    [ -f "$shot" ] || continue
    if command -v /usr/bin/convert >/dev/null; then
        /usr/bin/convert "$shot" "$shots/$(basename "${shot%.bmp}").png"
    else
        cp "$shot" "$shots/"
    fi
done
echo "screenshots in $shots"
