# The pages the download button and the utilities link asked for, and the screenshots as PNG files in
# the build folder for people to look at.
dialog_failed=0
dialog_fail() { echo "dialog_e2e check: $*" >&2; dialog_failed=1; }

for page in http://www.example.com/halvex http://www.example.com/ferovan/tools; do
    grep -qx "$page" "$DRIVE_C/opened-pages.txt" 2>/dev/null ||
        dialog_fail "$page was not opened: $(cat "$DRIVE_C/opened-pages.txt" 2>/dev/null || echo 'no page at all')"
done
shots="$(dirname "$program")/screenshots"
mkdir -p "$shots"
for shot in "$DRIVE_C"/shots/*.bmp; do
    [ -f "$shot" ] || { dialog_fail "the test left no screenshot"; break; }
    if command -v /usr/bin/convert >/dev/null; then
        /usr/bin/convert "$shot" "$shots/$(basename "${shot%.bmp}").png" || dialog_fail "could not convert $shot"
    else
        cp "$shot" "$shots/"
    fi
done
echo "screenshots in $shots"

[ "$dialog_failed" = 0 ]
