# The screenshot of the skinned window, as PNG beside the others.
shots="$(dirname "$program")/screenshots"
mkdir -p "$shots"
convert "$DRIVE_C/shots/skin.bmp" "$shots/skin.png"
echo "screenshot in $shots/skin.png"
