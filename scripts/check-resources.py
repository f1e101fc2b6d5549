#!/usr/bin/env python3
"""Checks the resources of Quellor.exe (resources/).

Bitmaps: every file of resources/bitmaps/ against the table below (size, bits
per pixel, uncompressed Windows 3 bitmap, colour table), the colours that must
be exact, and that no colour table holds one of the three greys that
LR_LOADMAP3DCOLORS replaces. Icon: the layers of resources/Quellor.ico.
Resource script: when i686-w64-mingw32-windres is on the PATH, Quellor.rc is
compiled and the compiled dialog templates, bitmaps and icon are compared with
what the program expects.

Python 3 standard library only. Exit status 0 when everything holds.
"""
import os
import shutil
import struct
import subprocess
import sys
import tempfile

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
RESOURCES = os.path.join(ROOT, 'resources')
BITMAPS = os.path.join(RESOURCES, 'bitmaps')

BODY = (207, 233, 254)
TITLE = (2, 77, 246)
WHITE = (255, 255, 255)
MAGENTA = (255, 0, 255)
GREYS_3D = {(128, 128, 128), (192, 192, 192), (223, 223, 223)}

# Resource (a name, or a number), file, width, height, bits per pixel.
BITMAP_TABLE = [
    ('OK_FOCUS', 'ok_focus.bmp', 92, 24, 8),
    ('OK_NOTFOCUS', 'ok_notfocus.bmp', 92, 24, 8),
    ('CANCEL_FOCUS', 'cancel_focus.bmp', 92, 24, 8),
    ('CANCEL_NOTFOCUS', 'cancel_notfocus.bmp', 92, 24, 8),
    ('YES_FOCUS', 'yes_focus.bmp', 92, 24, 8),
    ('YES_NOTFOCUS', 'yes_notfocus.bmp', 92, 24, 8),
    ('NO_FOCUS', 'no_focus.bmp', 92, 24, 8),
    ('NO_NOTFOCUS', 'no_notfocus.bmp', 92, 24, 8),
    ('SCAN_FOCUS', 'scan_focus.bmp', 180, 33, 8),
    ('SCAN_NOTFOCUS', 'scan_notfocus.bmp', 180, 33, 8),
    ('SCAN_DISABLE', 'scan_disable.bmp', 180, 33, 4),
    ('DOWNLOAD_FOCUS', 'download_focus.bmp', 180, 33, 8),
    ('DOWNLOAD_NOTFOCUS', 'download_notfocus.bmp', 180, 33, 8),
    ('DOWNLOAD_DISABLE', 'download_disable.bmp', 180, 33, 4),
    ('X_FOCUS', 'x_focus.bmp', 21, 21, 8),
    ('X_NOTFOCUS', 'x_notfocus.bmp', 21, 21, 8),
    ('ULINK_FOCUS', 'ulink_focus.bmp', 244, 28, 8),
    ('ULINK_NOTFOCUS', 'ulink_notfocus.bmp', 244, 28, 8),
    ('DLINK_FOCUS', 'dlink_focus.bmp', 313, 43, 4),
    ('DLINK_NOTFOCUS', 'dlink_notfocus.bmp', 313, 43, 4),
    ('FEROVANLOGO_FOCUS', 'ferovanlogo_focus.bmp', 38, 36, 8),
    ('FEROVANLOGO_NOTFOCUS', 'ferovanlogo_notfocus.bmp', 38, 36, 8),
    (147, 'prompt_warning.bmp', 42, 40, 24),
    (177, 'prompt_information.bmp', 42, 40, 24),
    (178, 'prompt_question.bmp', 42, 40, 24),
    (179, 'prompt_stop.bmp', 42, 40, 24),
    (180, 'skin.bmp', 527, 338, 8),
]

# Window styles.
WS_POPUP, WS_CHILD, WS_VISIBLE = 0x80000000, 0x40000000, 0x10000000
WS_CAPTION, WS_BORDER, WS_VSCROLL, WS_HSCROLL = 0x00C00000, 0x00800000, 0x00200000, 0x00100000
WS_SYSMENU, WS_GROUP, WS_TABSTOP = 0x00080000, 0x00020000, 0x00010000
WS_EX_TRANSPARENT = 0x20
DS_MODALFRAME, DS_SETFONT = 0x80, 0x40
BS_GROUPBOX, BS_OWNERDRAW, BS_FLAT = 0x7, 0xB, 0x8000
SS_LEFT, SS_CENTER, SS_BITMAP = 0x0, 0x1, 0xE
LBS_USETABSTOPS, LBS_NOINTEGRALHEIGHT = 0x80, 0x100

CHILD = WS_CHILD | WS_VISIBLE
BUTTON = BS_OWNERDRAW | WS_TABSTOP

# Id, class, text, style, rectangle, extended style; in template order.
MAIN_DIALOG = (161, True, WS_POPUP | WS_BORDER | DS_SETFONT, (0, 0, 349, 209), '', [
    (1070, 'Button', 'OK', CHILD | BUTTON, (128, 177, 50, 14), 0),
    (2, 'Button', 'CANCEL', CHILD | BUTTON, (128, 177, 50, 14), 0),
    (1052, 'Button', 'SCAN', CHILD | BUTTON, (12, 40, 76, 16), 0),
    (1053, 'Button', 'DOWNLOAD', CHILD | BUTTON, (190, 40, 97, 16), 0),
    (1054, 'Button', 'X', CHILD | BUTTON, (290, 3, 10, 10), 0),
    (1064, 'Button', '', CHILD | BS_GROUPBOX | BS_FLAT, (16, 81, 276, 29), 0),
    (1065, 'Static', 'Static', CHILD | SS_LEFT, (19, 93, 264, 11), 0),
    (1076, 'Static', 'Static', CHILD | SS_LEFT, (16, 70, 268, 11), 0),
    (1068, 'Static', 'Static', CHILD | SS_CENTER, (32, 25, 244, 11), 0),
    (1075, 'Static', 'Static', CHILD | SS_CENTER, (6, 136, 292, 10), 0),
    (1072, 'Static', 'Static', CHILD | SS_CENTER, (6, 102, 292, 11), 0),
    (1074, 'Static', 'Static', CHILD | SS_CENTER, (10, 70, 290, 14), 0),
    (1077, 'Button', 'DLINK', CHILD | BUTTON, (62, 133, 85, 7), 0),
    (1080, 'Button', 'ULINK', CHILD | BUTTON, (78, 177, 54, 6), 0),
    (1085, 'Button', 'FEROVANLOGO', CHILD | BUTTON, (278, 174, 38, 10), 0),
    (1034, 'Button', '', CHILD | BS_GROUPBOX | BS_FLAT, (16, 110, 276, 58), 0),
    (1055, 'ListBox', '', CHILD | WS_VSCROLL | WS_HSCROLL | WS_TABSTOP | LBS_NOINTEGRALHEIGHT
     | LBS_USETABSTOPS, (17, 116, 274, 51), WS_EX_TRANSPARENT),
])
PROMPT_DIALOG = (176, None, DS_MODALFRAME | WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_SETFONT,
                 (0, 0, 187, 54), 'Dialog', [
    (1, 'Button', 'OK', WS_CHILD | BUTTON, (24, 38, 50, 14), 0),
    (2, 'Button', 'Cancel', WS_CHILD | BUTTON, (102, 38, 50, 14), 0),
    (1085, 'Static', '', CHILD | SS_BITMAP, (15, 0, 25, 24), 0),
    (1086, 'Static', ' Are you sure you want to continue ', CHILD | SS_LEFT | WS_GROUP,
     (49, 5, 135, 19), 0),
    (3, 'Button', 'OK', CHILD | BUTTON, (63, 38, 50, 14), 0),
    (6, 'Button', 'YES', WS_CHILD | BUTTON, (24, 26, 50, 14), 0),
    (7, 'Button', 'NO', WS_CHILD | BUTTON, (100, 26, 50, 14), 0),
])

failures = []


def fail(message):
    failures.append(message)
    print('FAIL ' + message)


def read_bitmap_info(data, where):
    """Parses a BITMAPINFOHEADER bitmap (without its file header); returns
    (width, height, bpp, palette, pixel getter) or None."""
    size, w, h, planes, bpp, compression, _, _, _, used, _ = struct.unpack_from('<IiiHHIIiiII', data)
    if size != 40:
        fail('%s: header size %d, not 40 (BITMAPINFOHEADER)' % (where, size))
        return None
    if planes != 1 or compression != 0:
        fail('%s: planes %d, compression %d (want 1 and BI_RGB 0)' % (where, planes, compression))
        return None
    entries = 0
    if bpp <= 8:
        entries = used if used else 1 << bpp
    palette = []
    for i in range(entries):
        b, g, r, _ = struct.unpack_from('<BBBB', data, 40 + 4 * i)
        palette.append((r, g, b))
    bits = 40 + 4 * entries
    stride = ((w * bpp + 31) // 32) * 4
    rows = abs(h)
    if len(data) < bits + stride * rows:
        fail('%s: pixel data too short' % where)
        return None

    def pixel(x, y):
        row = (rows - 1 - y) if h > 0 else y
        base = bits + row * stride
        if bpp == 24:
            b, g, r = data[base + 3 * x:base + 3 * x + 3]
            return (r, g, b)
        if bpp == 8:
            return palette[data[base + x]]
        if bpp == 4:
            byte = data[base + x // 2]
            return palette[(byte >> 4) if x % 2 == 0 else (byte & 15)]
        if bpp == 1:
            return palette[(data[base + x // 8] >> (7 - x % 8)) & 1]
        raise ValueError(bpp)

    return w, rows, bpp, palette, pixel


def all_pixels(info):
    w, h, _, _, pixel = info
    return [pixel(x, y) for y in range(h) for x in range(w)]


def check_bitmaps():
    listed = {entry[1] for entry in BITMAP_TABLE}
    for name in sorted(os.listdir(BITMAPS)):
        if name not in listed:
            fail('bitmaps/%s is not a resource of the program' % name)
    loaded = {}
    for resource, filename, width, height, bpp in BITMAP_TABLE:
        path = os.path.join(BITMAPS, filename)
        where = 'bitmaps/' + filename
        if not os.path.exists(path):
            fail('%s is missing' % where)
            continue
        with open(path, 'rb') as f:
            data = f.read()
        magic, file_size, _, _, offset = struct.unpack_from('<2sIHHI', data)
        if magic != b'BM' or file_size != len(data) or offset < 54:
            fail('%s: bad file header' % where)
            continue
        info = read_bitmap_info(data[14:], where)
        if info is None:
            continue
        w, h, depth, palette, _ = info
        if offset != 14 + 40 + 4 * len(palette):
            fail('%s: pixel offset %d does not follow the colour table' % (where, offset))
        if (w, h, depth) != (width, height, bpp):
            fail('%s: %dx%d at %d bits, want %dx%d at %d bits' % (where, w, h, depth, width, height, bpp))
            continue
        grey = GREYS_3D & set(palette)
        if grey:
            fail('%s: colour table holds the 3-D grey(s) %s' % (where, sorted(grey)))
        loaded[resource] = (data, info)
        print('ok   %-24s %-26s %3d x %3d  %2d bpp  %3d colours' % (
            resource, filename, w, h, depth, len(palette)))
    return loaded


def check_colours(loaded):
    if 180 in loaded:
        info = loaded[180][1]
        _, _, _, palette, pixel = info
        if len(palette) != 255:
            fail('skin: colour table of %d entries, want 255' % len(palette))
        pixels = all_pixels(info)
        if MAGENTA in pixels:
            fail('skin: holds the key colour magenta')
        samples = [((10, 10), TITLE), ((526, 0), TITLE), ((0, 63), TITLE), ((526, 63), TITLE),
                   ((10, 100), BODY), ((0, 64), BODY), ((526, 315), BODY), ((5, 200), BODY),
                   ((521, 200), BODY), ((100, 109), BODY), ((100, 276), BODY),
                   ((100, 200), WHITE), ((6, 110), WHITE), ((520, 275), WHITE),
                   ((520, 110), WHITE), ((6, 275), WHITE)]
        for (x, y), want in samples:
            if pixel(x, y) != want:
                fail('skin: pixel (%d, %d) is %s, want %s' % (x, y, pixel(x, y), want))
        # Body and panel are flat apart from the title band's text.
        for y in range(64, 316):
            for x in range(527):
                want = WHITE if (6 <= x <= 520 and 110 <= y <= 275) else BODY
                if pixel(x, y) != want:
                    fail('skin: pixel (%d, %d) is %s, want %s' % (x, y, pixel(x, y), want))
                    break
        # Bottom band: dark blue at the left, light blue at the right.
        left, right = pixel(0, 326), pixel(526, 326)
        if not (sum(left) < sum(right) and left[2] > left[0] and right[2] > right[0]):
            fail('skin: bottom band does not shade from dark blue to light blue (%s .. %s)'
                 % (left, right))
        for y in range(0, 64):
            if pixel(0, y) != TITLE or pixel(526, y) != TITLE:
                fail('skin: title band edge row %d is not the title blue' % y)
                break
    for name in ('SCAN_DISABLE', 'DOWNLOAD_DISABLE'):
        if name in loaded and set(all_pixels(loaded[name][1])) != {BODY}:
            fail('%s: not a flat field of %s' % (name, BODY))
    for number in (147, 177, 178, 179):
        if number in loaded:
            _, _, _, _, pixel = loaded[number][1]
            for x, y in ((0, 0), (41, 0), (0, 39), (41, 39)):
                if pixel(x, y) != BODY:
                    fail('bitmap %d: corner (%d, %d) is %s, not the prompt ground %s'
                         % (number, x, y, pixel(x, y), BODY))
    for word in ('OK', 'CANCEL', 'YES', 'NO', 'SCAN', 'DOWNLOAD', 'X', 'ULINK', 'DLINK'):
        focus, other = loaded.get(word + '_FOCUS'), loaded.get(word + '_NOTFOCUS')
        if focus and other and all_pixels(focus[1]) == all_pixels(other[1]):
            fail('%s: the focus image looks like the notfocus image' % word)
    for word in ('ULINK', 'DLINK'):
        if word + '_NOTFOCUS' in loaded:
            background = loaded[word + '_NOTFOCUS'][1][4](0, 0)
            want = BODY if word == 'ULINK' else WHITE
            if background != want:
                fail('%s: background %s, want %s' % (word, background, want))
    logo = [loaded.get('FEROVANLOGO_' + state) for state in ('FOCUS', 'NOTFOCUS')]
    if all(logo) and logo[0][0] != logo[1][0]:
        fail('FEROVANLOGO: the two images differ')


def check_icon():
    path = os.path.join(RESOURCES, 'Quellor.ico')
    with open(path, 'rb') as f:
        data = f.read()
    reserved, kind, count = struct.unpack_from('<HHH', data)
    if reserved != 0 or kind != 1 or count == 0:
        fail('Quellor.ico: bad icon directory')
        return
    sizes = set()
    for i in range(count):
        w, h, colours, _, planes, bpp, length, offset = struct.unpack_from('<BBBBHHII', data, 6 + 16 * i)
        where = 'Quellor.ico layer %d' % i
        if offset + length > len(data):
            fail(where + ': past the end of the file')
            continue
        size, iw, ih, iplanes, ibpp, compression = struct.unpack_from('<IiiHHI', data, offset)
        if size != 40 or iw != w or ih != 2 * h or ibpp != bpp or compression != 0 or iplanes != 1:
            fail(where + ': bad BITMAPINFOHEADER')
        if bpp not in (4, 8):
            fail(where + ': %d bits per pixel; Windows 98 wants 4 or 8' % bpp)
        palette_bytes = 4 * (1 << bpp)
        xor = ((w * bpp + 31) // 32) * 4 * h
        mask = ((w + 31) // 32) * 4 * h
        if length != 40 + palette_bytes + xor + mask:
            fail(where + ': size %d does not match its %dx%d %d-bit layout' % (length, w, h, bpp))
        sizes.add((w, h))
        print('ok   icon layer %d: %d x %d at %d bpp' % (i, w, h, bpp))
    for want in ((32, 32), (16, 16)):
        if want not in sizes:
            fail('Quellor.ico: no %d x %d layer' % want)


# ---------------------------------------------------------- compiled .rc --

def read_sz_or_ord(data, pos):
    first = struct.unpack_from('<H', data, pos)[0]
    if first == 0xFFFF:
        return struct.unpack_from('<H', data, pos + 2)[0], pos + 4
    end = pos
    while struct.unpack_from('<H', data, end)[0] != 0:
        end += 2
    return data[pos:end].decode('utf-16-le'), end + 2


def align4(pos):
    return (pos + 3) & ~3


def read_res(path):
    """{(type, name): data} of a .res file."""
    with open(path, 'rb') as f:
        data = f.read()
    entries, pos = {}, 0
    while pos + 8 <= len(data):
        size, header = struct.unpack_from('<II', data, pos)
        kind, p = read_sz_or_ord(data, pos + 8)
        name, p = read_sz_or_ord(data, p)
        if size:
            entries[(kind, name)] = data[pos + header:pos + header + size]
        pos = align4(pos + header + size)
    return entries


CLASSES = {0x80: 'Button', 0x81: 'Edit', 0x82: 'Static', 0x83: 'ListBox', 0x84: 'ScrollBar',
           0x85: 'ComboBox'}


def parse_dialog(data):
    """(extended, style, exstyle, rect, caption, font, items)."""
    extended = struct.unpack_from('<HH', data) == (1, 0xFFFF)
    if extended:
        _, _, _, exstyle, style, count, x, y, cx, cy = struct.unpack_from('<HHIIIHhhhh', data)
        pos = 26
    else:
        style, exstyle, count, x, y, cx, cy = struct.unpack_from('<IIHhhhh', data)
        pos = 18
    _, pos = read_sz_or_ord(data, pos)          # menu
    _, pos = read_sz_or_ord(data, pos)          # class
    caption, pos = read_sz_or_ord(data, pos)
    font = None
    if style & DS_SETFONT:
        points = struct.unpack_from('<H', data, pos)[0]
        pos += 6 if extended else 2
        face, pos = read_sz_or_ord(data, pos)
        font = (points, face)
    items = []
    for _ in range(count):
        pos = align4(pos)
        if extended:
            _, item_ex, item_style, ix, iy, icx, icy, item_id = struct.unpack_from('<IIIhhhhI', data, pos)
            pos += 24
        else:
            item_style, item_ex, ix, iy, icx, icy, item_id = struct.unpack_from('<IIhhhhH', data, pos)
            pos += 18
        cls, pos = read_sz_or_ord(data, pos)
        text, pos = read_sz_or_ord(data, pos)
        extra = struct.unpack_from('<H', data, pos)[0]
        pos += 2 + extra
        # rc stores the standard classes as ordinals, windres as upper-case names.
        cls = CLASSES.get(cls, cls).lower()
        items.append((item_id, cls, text, item_style, (ix, iy, icx, icy), item_ex))
    return extended, style, exstyle, (x, y, cx, cy), caption, font, items


def check_compiled():
    windres = shutil.which('i686-w64-mingw32-windres')
    if not windres:
        print('skip the resource script check: i686-w64-mingw32-windres is not on the PATH')
        return
    with tempfile.TemporaryDirectory() as tmp:
        res = os.path.join(tmp, 'Quellor.res')
        run = subprocess.run([windres, '-DWINVER=0x0400', '-D_WIN32_WINNT=0x0400', '-O', 'res',
                              os.path.join(RESOURCES, 'Quellor.rc'), '-o', res],
                             cwd=tmp, capture_output=True, text=True)
        if run.returncode != 0:
            fail('windres failed:\n' + run.stderr)
            return
        entries = read_res(res)
    RT_BITMAP, RT_DIALOG, RT_GROUP_ICON, RT_VERSION = 2, 5, 14, 16
    for resource, filename, _, _, _ in BITMAP_TABLE:
        data = entries.get((RT_BITMAP, resource))
        if data is None:
            fail('Quellor.rc: no bitmap %s' % resource)
            continue
        with open(os.path.join(BITMAPS, filename), 'rb') as f:
            if f.read()[14:] != data:
                fail('Quellor.rc: bitmap %s is not bitmaps/%s' % (resource, filename))
    expected = {entry[0] for entry in BITMAP_TABLE}
    for kind, name in entries:
        if kind == RT_BITMAP and name not in expected:
            fail('Quellor.rc: unexpected bitmap %s' % name)
    if (RT_GROUP_ICON, 128) not in entries:
        fail('Quellor.rc: no icon 128')
    if (RT_VERSION, 1) not in entries:
        fail('Quellor.rc: no version block')
    for number, extended, style, rect, caption, items in (MAIN_DIALOG, PROMPT_DIALOG):
        data = entries.get((RT_DIALOG, number))
        if data is None:
            fail('Quellor.rc: no dialog %d' % number)
            continue
        before = len(failures)
        got = parse_dialog(data)
        if extended and not got[0]:
            fail('dialog %d: not an extended template' % number)
        if got[1] != style:
            fail('dialog %d: style 0x%08X, want 0x%08X' % (number, got[1], style))
        if got[3] != rect or got[4] != caption:
            fail('dialog %d: %s %r, want %s %r' % (number, got[3], got[4], rect, caption))
        if got[5] != (8, 'MS Sans Serif'):
            fail('dialog %d: font %s' % (number, got[5]))
        if len(got[6]) != len(items):
            fail('dialog %d: %d controls, want %d' % (number, len(got[6]), len(items)))
        for have, want in zip(got[6], items):
            want = (want[0], want[1].lower()) + want[2:]
            if have != want:
                fail('dialog %d: control %r\n      want %r' % (number, have, want))
        if len(failures) == before:
            print('ok   dialog %d: %d controls' % (number, len(got[6])))


def main():
    loaded = check_bitmaps()
    check_colours(loaded)
    check_icon()
    check_compiled()
    if failures:
        print('%d problem(s)' % len(failures))
        return 1
    print('all resources check out')
    return 0


if __name__ == '__main__':
    sys.exit(main())
