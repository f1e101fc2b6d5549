#!/usr/bin/env bash
# Draws every bitmap of resources/bitmaps/ and the icon resources/Quellor.ico.
#
# The pictures are drawn with ImageMagick 6 (/usr/bin/convert) and the DejaVu
# fonts into true-colour PAM files in a scratch folder; the embedded Python
# step then writes them as uncompressed Windows 3 bitmaps (BITMAPINFOHEADER,
# BI_RGB) at their exact bit depth, with a colour table of its own making:
#   - the colours named in the table below (title blue, body light blue, white,
#     the disabled field) are kept exactly;
#   - the three 3-D greys that LR_LOADMAP3DCOLORS replaces, RGB(128,128,128),
#     RGB(192,192,192) and RGB(223,223,223), and the skin's key colour
#     RGB(255,0,255) never enter a colour table.
# The output depends only on the inputs, so running it twice gives the same
# files. The build does not run this script; it compiles the committed output.
# scripts/check-resources.py verifies the result.
set -euo pipefail

ROOT=$(cd "$(dirname "$0")/.." && pwd)
OUT="$ROOT/resources/bitmaps"
ICON="$ROOT/resources/Quellor.ico"
CONVERT=/usr/bin/convert
FONTS=/usr/share/fonts/truetype/dejavu

SANS="$FONTS/DejaVuSans.ttf"
SANS_BOLD="$FONTS/DejaVuSans-Bold.ttf"
SANS_BOLD_OBLIQUE="$FONTS/DejaVuSans-BoldOblique.ttf"
CONDENSED="$FONTS/DejaVuSansCondensed.ttf"
SERIF_BOLD="$FONTS/DejaVuSerif-Bold.ttf"

[ -x "$CONVERT" ] || { echo "ImageMagick 6 is needed at $CONVERT" >&2; exit 1; }
"$CONVERT" -version | grep -q 'ImageMagick 6' || { echo "$CONVERT is not ImageMagick 6" >&2; exit 1; }
for font in "$SANS" "$SANS_BOLD" "$SANS_BOLD_OBLIQUE" "$CONDENSED" "$SERIF_BOLD"; do
    [ -f "$font" ] || { echo "missing font $font" >&2; exit 1; }
done

WORK=$(mktemp -d)
trap 'rm -rf "$WORK"' EXIT
mkdir -p "$OUT"

# Colours of the skin.
TITLE='rgb(2,77,246)'       # title band, and the caption label's text cells
BODY='rgb(207,233,254)'     # body, prompt background, disabled buttons
WHITE='rgb(255,255,255)'    # results panel
LINK='rgb(0,51,204)'        # link text

# Every picture is drawn by one convert run into $WORK/NAME.pam (true colour;
# the alpha channel is kept only for the icon layers).
pam() { "$CONVERT" "$@"; }

# ---------------------------------------------------------------- buttons --

# Pale lavender bar with a black word (OK, Cancel, Yes, No); 92 x 24.
lavender_bar() { # name top bottom border word
    pam -size 92x24 "gradient:$2-$3" \
        \( -size 92x24 xc:black -fill white -draw 'roundrectangle 0,0 91,23 5,5' \) \
        -alpha off -compose CopyOpacity -composite \
        -background "$BODY" -compose Over -flatten \
        -fill none -stroke "$4" -strokewidth 1 -draw 'roundrectangle 0.5,0.5 90.5,22.5 5,5' \
        -stroke none -fill black -font "$SANS_BOLD" -pointsize 12 \
        -gravity center -annotate +0+0 "$5" \
        -alpha off -depth 8 "pam:$WORK/$1.pam"
}
for pair in OK:OK CANCEL:Cancel YES:Yes NO:No; do
    id=${pair%%:*}; word=${pair#*:}
    lavender_bar "${id}_NOTFOCUS" 'rgb(246,244,255)' 'rgb(222,218,250)' 'rgb(140,134,196)' "$word"
    lavender_bar "${id}_FOCUS"    'rgb(226,222,250)' 'rgb(196,190,240)' 'rgb(98,90,170)'   "$word"
done

# Green rounded bar with white italic words (SCAN, DOWNLOAD); 180 x 33.
green_bar() { # name top bottom border pointsize words
    pam -size 180x33 "gradient:$2-$3" \
        \( -size 180x33 xc:black -fill white -draw 'roundrectangle 0,0 179,32 12,12' \) \
        -alpha off -compose CopyOpacity -composite \
        -background "$BODY" -compose Over -flatten \
        -fill none -stroke "$4" -strokewidth 1.5 -draw 'roundrectangle 0.75,0.75 178.25,31.25 12,12' \
        -stroke none -font "$SANS_BOLD_OBLIQUE" -pointsize "$5" -gravity center \
        -fill 'rgb(0,70,0)' -annotate +1+2 "$6" \
        -fill white -annotate +0+1 "$6" \
        -alpha off -depth 8 "pam:$WORK/$1.pam"
}
green_bar SCAN_NOTFOCUS     'rgb(92,184,72)'  'rgb(24,116,24)' 'rgb(16,84,16)' 19 'Scan'
green_bar SCAN_FOCUS        'rgb(140,226,110)' 'rgb(46,160,40)' 'rgb(22,110,22)' 19 'Scan'
green_bar DOWNLOAD_NOTFOCUS 'rgb(92,184,72)'  'rgb(24,116,24)' 'rgb(16,84,16)' 14 'Download Antivirus'
green_bar DOWNLOAD_FOCUS    'rgb(140,226,110)' 'rgb(46,160,40)' 'rgb(22,110,22)' 14 'Download Antivirus'

# Disabled SCAN and DOWNLOAD: a flat field of the body colour, so they vanish.
for id in SCAN DOWNLOAD; do
    pam -size 180x33 "xc:$BODY" -alpha off -depth 8 "pam:$WORK/${id}_DISABLE.pam"
done

# Close button of the skin: red square with a white cross; 21 x 21.
close_box() { # name fill border
    pam -size 21x21 "xc:$3" -fill "$2" -draw 'rectangle 1,1 19,19' \
        -stroke white -strokewidth 2.5 \
        -draw 'stroke-linecap round line 6,6 14,14 line 14,6 6,14' \
        -alpha off -depth 8 "pam:$WORK/$1.pam"
}
close_box X_NOTFOCUS 'rgb(200,32,32)' 'rgb(120,10,10)'
close_box X_FOCUS    'rgb(250,72,60)' 'rgb(160,24,24)'

# Link to the maker's other removal tools: two lines on the body colour.
utilities_link() { # name decoration
    pam -size 244x28 "xc:$BODY" -font "$CONDENSED" -pointsize 11 -fill "$LINK" \
        -draw "decorate $2 text 3,11 'Get more free removal tools from Ferovan'" \
        -draw "decorate $2 text 3,25 'www.example.com/ferovan/tools'" \
        -alpha off -depth 8 "pam:$WORK/$1.pam"
}
utilities_link ULINK_NOTFOCUS none
utilities_link ULINK_FOCUS underline

# Link to the maker's antivirus product: three lines on white.
download_link() { # name decoration
    pam -size 313x43 "xc:$WHITE" -font "$CONDENSED" -pointsize 11 -fill "$LINK" \
        -draw "decorate $2 text 4,11 'Protect your computer from thousands of other threats.'" \
        -draw "decorate $2 text 4,25 'Download the Halvex Antivirus trial version from'" \
        -draw "decorate $2 text 4,39 'www.example.com/halvex'" \
        -alpha off -depth 8 "pam:$WORK/$1.pam"
}
download_link DLINK_NOTFOCUS none
download_link DLINK_FOCUS underline

# The maker's logo: a teal rounded tile with an abstract white letter mark
# (two stacked bars on a stem) and an amber dot; 38 x 36, both images alike.
maker_logo() { # name
    pam -size 38x36 "xc:$BODY" \
        -fill 'rgb(0,112,128)' -stroke 'rgb(0,70,84)' -strokewidth 1 \
        -draw 'roundrectangle 2.5,1.5 35.5,34.5 8,8' -stroke none \
        -fill white -draw 'polygon 10,8 28,8 25,13 15,13 15,16 23,16 20,21 15,21 15,28 10,28' \
        -fill 'rgb(255,176,32)' -draw 'circle 26.5,25.5 26.5,29' \
        -alpha off -depth 8 "pam:$WORK/$1.pam"
}
maker_logo FEROVANLOGO_NOTFOCUS
maker_logo FEROVANLOGO_FOCUS

# ------------------------------------------------------------------- skin --

# 527 x 338: blue title band (rows 0-63) with the product's shield and name
# (the caption label goes below the name, rows 40-58, and the X at the right),
# light-blue body (rows 64-315) with the white results panel (6,110)-(520,275),
# and a bottom band (rows 316-337) shading from dark blue to light blue.
pam -size 22x527 'gradient:rgb(150,200,252)-rgb(0,24,110)' -rotate 90 "$WORK/band.png"
pam -size 527x338 "xc:$BODY" \
    -fill "$TITLE" -draw 'rectangle 0,0 526,63' \
    -fill "$WHITE" -draw 'rectangle 6,110 520,275' \
    "$WORK/band.png" -geometry +0+316 -compose Over -composite \
    -fill 'rgb(0,40,150)' -stroke white -strokewidth 2 \
    -draw 'path "M 31,5 C 38,9 44,10 50,10 L 50,21 C 50,30 42,36 31,40 C 20,36 12,30 12,21 L 12,10 C 18,10 24,9 31,5 Z"' \
    -stroke white -strokewidth 3.5 -fill none \
    -draw 'stroke-linecap round stroke-linejoin round polyline 22,22 29,29 41,15' \
    -stroke none -fill white -font "$SANS_BOLD_OBLIQUE" -pointsize 28 \
    -draw "text 60,33 'Quellor'" \
    -alpha off -depth 8 "pam:$WORK/SKIN.pam"

# ---------------------------------------------------------------- prompts --

# 42 x 40 pictures on the prompt's light-blue ground.
pam -size 42x40 "xc:$BODY" \
    -fill 'rgb(255,214,0)' -stroke 'rgb(150,104,0)' -strokewidth 1.5 \
    -draw 'stroke-linejoin round polygon 21,3 39,36 3,36' -stroke none -fill black \
    -draw 'polygon 19,13 23,13 22.2,27 19.8,27' -draw 'circle 21,31.5 21,33.5' \
    -alpha off -depth 8 "pam:$WORK/PROMPT_WARNING.pam"

speech_bubble() { # name letter font pointsize
    pam -size 42x40 "xc:$BODY" \
        -fill white -stroke 'rgb(40,80,170)' -strokewidth 1.5 \
        -draw 'path "M 21,3 C 32,3 39,9 39,17 C 39,25 32,31 22,31 L 12,38 L 14,29 C 7,27 3,22 3,17 C 3,9 10,3 21,3 Z"' \
        -stroke none -fill 'rgb(20,60,190)' -font "$3" -pointsize "$4" \
        -gravity center -annotate +0-3 "$2" \
        -alpha off -depth 8 "pam:$WORK/$1.pam"
}
speech_bubble PROMPT_INFORMATION i "$SERIF_BOLD" 22
speech_bubble PROMPT_QUESTION '?' "$SANS_BOLD" 21

pam -size 42x40 "xc:$BODY" \
    -fill 'rgb(214,24,24)' -stroke 'rgb(130,0,0)' -strokewidth 1.5 \
    -draw 'circle 21,20 21,3' \
    -stroke white -strokewidth 4 \
    -draw 'stroke-linecap round line 14,13 28,27 line 28,13 14,27' \
    -alpha off -depth 8 "pam:$WORK/PROMPT_STOP.pam"

# ------------------------------------------------------------------- icon --

# A blue shield with a white check mark, with transparency; the 4-bit layers
# are drawn without smoothing in the 16 standard colours.
shield_icon() { # name size antialias fill
    local s=$2 k
    k=$(awk -v s="$s" 'BEGIN { print s / 32 }')
    pam -size "${s}x${s}" xc:none $3 \
        -fill "$4" -stroke 'rgb(0,0,128)' -strokewidth "$(awk -v k="$k" 'BEGIN { print 2 * k }')" \
        -draw "scale $k,$k path 'M 16,1.5 C 20,4 25,5 29.5,5 L 29.5,15 C 29.5,23 23,28 16,31 C 9,28 2.5,23 2.5,15 L 2.5,5 C 7,5 12,4 16,1.5 Z'" \
        -stroke white -strokewidth "$(awk -v k="$k" 'BEGIN { print 3.5 * k }')" -fill none \
        -draw "scale $k,$k stroke-linecap round stroke-linejoin round polyline 9.5,16 14,21 23,10.5" \
        -alpha on -depth 8 "pam:$WORK/$1.pam"
}
shield_icon ICON32_8 32 -antialias "$TITLE"
shield_icon ICON16_8 16 -antialias "$TITLE"
shield_icon ICON32_4 32 +antialias 'rgb(0,0,255)'
shield_icon ICON16_4 16 +antialias 'rgb(0,0,255)'

# --------------------------------------------------------------- writing --

# Each line: picture, output file, bits per pixel, colour-table entries, and
# the colours that must appear unchanged.
cat > "$WORK/table.txt" <<EOF
OK_FOCUS              ok_focus.bmp                8 256
OK_NOTFOCUS           ok_notfocus.bmp             8 256
CANCEL_FOCUS          cancel_focus.bmp            8 256
CANCEL_NOTFOCUS       cancel_notfocus.bmp         8 256
YES_FOCUS             yes_focus.bmp               8 256
YES_NOTFOCUS          yes_notfocus.bmp            8 256
NO_FOCUS              no_focus.bmp                8 256
NO_NOTFOCUS           no_notfocus.bmp             8 256
SCAN_FOCUS            scan_focus.bmp              8 256 207,233,254
SCAN_NOTFOCUS         scan_notfocus.bmp           8 256 207,233,254
SCAN_DISABLE          scan_disable.bmp            4 16  207,233,254
DOWNLOAD_FOCUS        download_focus.bmp          8 256 207,233,254
DOWNLOAD_NOTFOCUS     download_notfocus.bmp       8 256 207,233,254
DOWNLOAD_DISABLE      download_disable.bmp        4 16  207,233,254
X_FOCUS               x_focus.bmp                 8 256 255,255,255
X_NOTFOCUS            x_notfocus.bmp              8 256 255,255,255
ULINK_FOCUS           ulink_focus.bmp             8 256 207,233,254 0,51,204
ULINK_NOTFOCUS        ulink_notfocus.bmp          8 256 207,233,254 0,51,204
DLINK_FOCUS           dlink_focus.bmp             4 16  255,255,255 0,51,204
DLINK_NOTFOCUS        dlink_notfocus.bmp          4 16  255,255,255 0,51,204
FEROVANLOGO_FOCUS     ferovanlogo_focus.bmp       8 256 207,233,254
FEROVANLOGO_NOTFOCUS  ferovanlogo_notfocus.bmp    8 256 207,233,254
SKIN                  skin.bmp                    8 255 2,77,246 207,233,254 255,255,255
PROMPT_WARNING        prompt_warning.bmp          24 0
PROMPT_INFORMATION    prompt_information.bmp      24 0
PROMPT_QUESTION       prompt_question.bmp         24 0
PROMPT_STOP           prompt_stop.bmp             24 0
EOF

python3 - "$WORK" "$OUT" "$ICON" <<'PYTHON'
import os
import struct
import sys

work, out, icon_path = sys.argv[1:4]

FORBIDDEN = {(128, 128, 128), (192, 192, 192), (223, 223, 223), (255, 0, 255)}
VGA = [(0, 0, 0), (128, 0, 0), (0, 128, 0), (128, 128, 0), (0, 0, 128), (128, 0, 128),
       (0, 128, 128), (192, 192, 192), (128, 128, 128), (255, 0, 0), (0, 255, 0),
       (255, 255, 0), (0, 0, 255), (255, 0, 255), (0, 255, 255), (255, 255, 255)]


def read_pam(path):
    """Returns (width, height, [(r, g, b, a)] top row first)."""
    with open(path, 'rb') as f:
        data = f.read()
    end = data.index(b'ENDHDR\n') + len(b'ENDHDR\n')
    fields = {}
    for line in data[:end].decode('ascii').splitlines()[1:-1]:
        key, _, value = line.partition(' ')
        fields[key] = value
    w, h, depth = int(fields['WIDTH']), int(fields['HEIGHT']), int(fields['DEPTH'])
    assert int(fields['MAXVAL']) == 255, path
    raw = data[end:end + w * h * depth]
    assert len(raw) == w * h * depth, path
    pixels = []
    for i in range(0, len(raw), depth):
        p = raw[i:i + depth]
        if depth == 1:
            pixels.append((p[0], p[0], p[0], 255))
        elif depth == 2:
            pixels.append((p[0], p[0], p[0], p[1]))
        elif depth == 3:
            pixels.append((p[0], p[1], p[2], 255))
        else:
            pixels.append((p[0], p[1], p[2], p[3]))
    return w, h, pixels


def nudge(c):
    """Moves a colour off the 3-D greys and the key colour."""
    while c in FORBIDDEN:
        c = (c[0], c[1] + 1 if c[1] < 255 else c[1] - 1, c[2])
    return c


def median_cut(counts, boxes_wanted):
    """Weighted median cut over {colour: count}; returns a list of colours."""
    boxes = [sorted(counts.items())]
    while len(boxes) < boxes_wanted:
        best, best_score = None, 0
        for i, box in enumerate(boxes):
            if len(box) < 2:
                continue
            spans = [max(c[0][k] for c in box) - min(c[0][k] for c in box) for k in range(3)]
            score = max(spans) * sum(n for _, n in box) ** 0.5
            if score > best_score:
                best, best_score = i, score
        if best is None:
            break
        box = boxes.pop(best)
        spans = [max(c[0][k] for c in box) - min(c[0][k] for c in box) for k in range(3)]
        axis = spans.index(max(spans))
        box.sort(key=lambda item: (item[0][axis], item[0]))
        total, run, cut = sum(n for _, n in box), 0, 1
        for j, (_, n) in enumerate(box):
            run += n
            if run * 2 >= total:
                cut = min(max(j + 1, 1), len(box) - 1)
                break
        boxes[best:best] = [box[:cut], box[cut:]]
    palette = []
    for box in boxes:
        total = sum(n for _, n in box)
        palette.append(tuple(int(round(sum(c[k] * n for c, n in box) / total)) for k in range(3)))
    return palette


def nearest(colour, palette):
    best, best_d = 0, None
    for i, p in enumerate(palette):
        d = (p[0] - colour[0]) ** 2 + (p[1] - colour[1]) ** 2 + (p[2] - colour[2]) ** 2
        if best_d is None or d < best_d:
            best, best_d = i, d
            if d == 0:
                break
    return best


def make_palette(colours, entries, keep):
    """A colour table of at most `entries` colours holding every colour of
    `keep` exactly, and a map from every picture colour to its index."""
    counts = {}
    for c in colours:
        counts[c] = counts.get(c, 0) + 1
    palette = [c for c in keep if c in counts]
    rest = {c: n for c, n in counts.items() if c not in palette}
    if len(rest) + len(palette) <= entries:
        palette += sorted(rest)
    else:
        palette += median_cut(rest, entries - len(palette))
    palette = [nudge(c) if c not in keep else c for c in palette]
    # Drop duplicates left by the nudging, keeping the first of each.
    unique = []
    for c in palette:
        if c not in unique:
            unique.append(c)
    palette = unique
    index = {c: nearest(c, palette) for c in counts}
    return palette, index


def bmp_bytes(w, h, bpp, palette, table_entries, rows):
    """rows: top row first; each a list of indices (bpp <= 8) or colours."""
    stride = ((w * bpp + 31) // 32) * 4
    body = bytearray()
    for row in reversed(rows):
        line = bytearray()
        if bpp == 24:
            for r, g, b in row:
                line += bytes((b, g, r))
        elif bpp == 8:
            line += bytes(row)
        elif bpp == 4:
            for x in range(0, w, 2):
                hi = row[x]
                lo = row[x + 1] if x + 1 < w else 0
                line.append((hi << 4) | lo)
        elif bpp == 1:
            for x in range(0, w, 8):
                byte = 0
                for bit in range(8):
                    if x + bit < w and row[x + bit]:
                        byte |= 0x80 >> bit
                line.append(byte)
        line += bytes(stride - len(line))
        body += line
    table = bytearray()
    if bpp <= 8:
        padded = list(palette) + [(0, 0, 0)] * (table_entries - len(palette))
        for r, g, b in padded:
            table += bytes((b, g, r, 0))
    used = 0 if (bpp > 8 or table_entries == 1 << bpp) else table_entries
    header = struct.pack('<IiiHHIIiiII', 40, w, h, 1, bpp, 0, len(body), 2835, 2835, used, 0)
    return header, bytes(table), bytes(body)


def write_bmp(path, w, h, bpp, palette, entries, rows):
    header, table, body = bmp_bytes(w, h, bpp, palette, entries, rows)
    offset = 14 + len(header) + len(table)
    with open(path, 'wb') as f:
        f.write(struct.pack('<2sIHHI', b'BM', offset + len(body), 0, 0, offset))
        f.write(header + table + body)


def colour(text):
    return tuple(int(v) for v in text.split(','))


# Bitmaps.
with open(os.path.join(work, 'table.txt')) as f:
    for line in f:
        parts = line.split()
        if not parts:
            continue
        name, filename, bpp, entries = parts[0], parts[1], int(parts[2]), int(parts[3])
        keep = [colour(c) for c in parts[4:]]
        w, h, pixels = read_pam(os.path.join(work, name + '.pam'))
        rgb = [p[:3] for p in pixels]
        if bpp == 24:
            rows = [rgb[y * w:(y + 1) * w] for y in range(h)]
            write_bmp(os.path.join(out, filename), w, h, 24, [], 0, rows)
            continue
        palette, index = make_palette(rgb, entries, keep)
        assert len(palette) <= entries, name
        rows = [[index[c] for c in rgb[y * w:(y + 1) * w]] for y in range(h)]
        write_bmp(os.path.join(out, filename), w, h, bpp, palette, entries, rows)


# Icon: 32 x 32 and 16 x 16 at 8 and at 4 bits per pixel, with an AND mask.
def icon_image(name, bpp):
    w, h, pixels = read_pam(os.path.join(work, name + '.pam'))
    opaque = [p[3] >= 128 for p in pixels]
    rgb = [p[:3] if o else (0, 0, 0) for p, o in zip(pixels, opaque)]
    if bpp == 4:
        palette = VGA
        index = {c: nearest(c, VGA) for c in set(rgb)}
    else:
        palette, index = make_palette(rgb, 256, [(0, 0, 0)])
    rows = [[index[c] for c in rgb[y * w:(y + 1) * w]] for y in range(h)]
    mask = [[0 if opaque[y * w + x] else 1 for x in range(w)] for y in range(h)]
    header, table, xor = bmp_bytes(w, h, bpp, palette, 1 << bpp, rows)
    _, _, and_mask = bmp_bytes(w, h, 1, [], 0, mask)
    header = struct.pack('<IiiHHIIiiII', 40, w, 2 * h, 1, bpp, 0, len(xor) + len(and_mask), 0, 0, 0, 0)
    return w, h, bpp, header + table + xor + and_mask


images = [icon_image('ICON32_8', 8), icon_image('ICON16_8', 8),
          icon_image('ICON32_4', 4), icon_image('ICON16_4', 4)]
directory = struct.pack('<HHH', 0, 1, len(images))
offset = 6 + 16 * len(images)
blobs = b''
for w, h, bpp, blob in images:
    directory += struct.pack('<BBBBHHII', w, h, 16 if bpp == 4 else 0, 0, 1, bpp, len(blob), offset)
    offset += len(blob)
    blobs += blob
with open(icon_path, 'wb') as f:
    f.write(directory + blobs)
PYTHON

echo "wrote $(ls "$OUT" | wc -l) bitmaps to $OUT and the icon $ICON"
