# After the demo: the six samples are gone from d: and nothing else is, and
# the screenshot of the finished window was kept (as PNG beside the dialog
# test's screenshots).
run_demo_removed=$(printf '%s\n' ./Downloads/postcard.vbs ./Downloads/setup.exe ./Downloads/tools/update.exe \
    ./Mail/greeting.vbs ./Mail/newsletter.htm ./Mail/photos.zip | LC_ALL=C sort)
run_demo_after=$(cd "$DRIVE_D" && find . -type f | LC_ALL=C sort)
run_demo_expected=$(comm -23 <(printf '%s\n' "$run_demo_before") <(printf '%s\n' "$run_demo_removed"))
if [ "$run_demo_after" != "$run_demo_expected" ]; then
    echo "run_demo check: d: holds other files than expected:" >&2
    diff <(printf '%s\n' "$run_demo_expected") <(printf '%s\n' "$run_demo_after") >&2
    false
fi
[ -s "$DRIVE_C/Quellor/finished.bmp" ] || { echo "run_demo check: no screenshot" >&2; false; }
shots="$(dirname "$program")/screenshots"
mkdir -p "$shots"
convert "$DRIVE_C/Quellor/finished.bmp" "$shots/run-demo-finished.png"
echo "screenshot in $shots/run-demo-finished.png"
