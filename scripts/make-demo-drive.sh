#!/usr/bin/env bash
# make-demo-drive.sh FOLDER: fills FOLDER with the harmless files of the demo
# drive: ordinary documents in a few folders, hidden and read-only ones
# among them.
set -euo pipefail
demo=$1
mkdir -p "$demo/Documents" "$demo/Pictures/Holiday" "$demo/Program Files/Tools"
printf 'Shopping list\r\nmilk\r\nbread\r\n' > "$demo/Documents/list.txt"
printf '<html><body>Hello</body></html>\r\n' > "$demo/Documents/page.htm"
printf 'not really a picture\r\n' > "$demo/Pictures/Holiday/beach.bmp"
printf 'MZ harmless sample, not a program\r\n' > "$demo/Program Files/Tools/tool.exe"
printf 'readme\r\n' > "$demo/README"
