# The page the utilities link asked for, and the screenshots as PNG files in
# the build folder for people to look at.
grep -qx 'http://www.example.com/ferovan/tools' "$DRIVE_C/opened-pages.txt" || {
    echo "the utilities page was not opened:"; cat "$DRIVE_C/opened-pages.txt" 2>/dev/null; false; }
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
