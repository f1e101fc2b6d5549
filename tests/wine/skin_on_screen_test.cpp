// The skinned main window as the screen shows it: its outline is the skin's
// shape, and what the screen shows wherever no control covers the window is
// the skin bitmap itself (the blue title band, the light-blue body, the
// white panel, the shaded bottom band), with the caption label drawn white
// on the title band's blue. The expected shape and pixels come from the
// skin bitmap in the program's own resources, read here without any of the
// program's code.
#include <windows.h>

#include <cstring>
#include <string>
#include <vector>

#include "resources/resource.h"
#include "wine/harness/Harness.h"
#include "wine/support/DialogDriver.h"
#include "wine/support/Win32TestSupport.h"

namespace {

const DWORD kStartTimeout = 30000;
const COLORREF kKeyColour = RGB(255, 0, 255);
const COLORREF kTitleBlue = RGB(2, 77, 246);
const COLORREF kBodyBlue = RGB(207, 233, 254);
const COLORREF kWhite = RGB(255, 255, 255);

// A 32-bit top-down copy of a bitmap or of a part of the screen.
struct Pixels {
    int width = 0;
    int height = 0;
    std::vector<DWORD> bits;  // 0x00RRGGBB per pixel, top row first

    COLORREF At(int x, int y) const
    {
        DWORD pixel = bits[static_cast<std::size_t>(y) * static_cast<std::size_t>(width) + static_cast<std::size_t>(x)];
        return RGB((pixel >> 16) & 0xFF, (pixel >> 8) & 0xFF, pixel & 0xFF);
    }
};

bool ReadPixels(HDC surface, HBITMAP bitmap, int width, int height, Pixels& pixels)
{
    BITMAPINFOHEADER header;
    ZeroMemory(&header, sizeof header);
    header.biSize = sizeof header;
    header.biWidth = width;
    header.biHeight = -height;  // top-down
    header.biPlanes = 1;
    header.biBitCount = 32;
    header.biCompression = BI_RGB;
    pixels.width = width;
    pixels.height = height;
    pixels.bits.assign(static_cast<std::size_t>(width) * static_cast<std::size_t>(height), 0);
    return GetDIBits(surface, bitmap, 0, static_cast<UINT>(height), pixels.bits.data(),
                     reinterpret_cast<BITMAPINFO*>(&header), DIB_RGB_COLORS) == height;
}

// The skin bitmap as the program ships it.
bool LoadSkin(Pixels& skin)
{
    HMODULE program = LoadLibraryExA(kDriverProgram, nullptr, LOAD_LIBRARY_AS_DATAFILE);
    if (!program) return false;
    HBITMAP bitmap = static_cast<HBITMAP>(
        LoadImageA(program, MAKEINTRESOURCEA(IDB_SKIN), IMAGE_BITMAP, 0, 0, LR_CREATEDIBSECTION));
    bool read = false;
    BITMAP info;
    if (bitmap && GetObjectA(bitmap, sizeof info, &info)) {
        HDC screen = GetDC(nullptr);
        read = ReadPixels(screen, bitmap, info.bmWidth, info.bmHeight, skin);
        ReleaseDC(nullptr, screen);
    }
    if (bitmap) DeleteObject(bitmap);
    FreeLibrary(program);
    return read;
}

// What the screen shows inside `box`.
bool ReadScreen(const RECT& box, Pixels& shown)
{
    BITMAPINFOHEADER header;
    std::vector<char> bytes;
    if (!ReadScreenPixels(box, 32, true, header, bytes)) return false;
    shown.width = header.biWidth;
    shown.height = -header.biHeight;
    shown.bits.assign(bytes.size() / sizeof(DWORD), 0);
    std::memcpy(shown.bits.data(), bytes.data(), shown.bits.size() * sizeof(DWORD));
    return true;
}

// The outline cut from the skin: every run of pixels that differ from the
// key colour, row by row.
HRGN ExpectedShape(const Pixels& skin)
{
    HRGN shape = CreateRectRgn(0, 0, 0, 0);
    for (int y = 0; y < skin.height; ++y) {
        for (int x = 0; x < skin.width;) {
            while (x < skin.width && skin.At(x, y) == kKeyColour) ++x;
            int start = x;
            while (x < skin.width && skin.At(x, y) != kKeyColour) ++x;
            if (x > start) {
                HRGN run = CreateRectRgn(start, y, x, y + 1);
                CombineRgn(shape, shape, run, RGN_OR);
                DeleteObject(run);
            }
        }
    }
    return shape;
}

// Whether `pixel` lies between the title blue and white, at the same share
// of white in its red and its green channel.
bool BlendOfBlueAndWhite(COLORREF pixel)
{
    const int red = GetRValue(pixel), green = GetGValue(pixel), blue = GetBValue(pixel);
    if (red < GetRValue(kTitleBlue) || green < GetGValue(kTitleBlue) || blue < GetBValue(kTitleBlue)) return false;
    const double redShare = (red - GetRValue(kTitleBlue)) / double(255 - GetRValue(kTitleBlue));
    const double greenShare = (green - GetGValue(kTitleBlue)) / double(255 - GetGValue(kTitleBlue));
    return redShare - greenShare < 0.1 && greenShare - redShare < 0.1;
}

struct ChildBoxes {
    HWND dialog;
    std::vector<RECT> boxes;  // in the dialog's client coordinates
};

BOOL CALLBACK CollectVisibleChild(HWND child, LPARAM data)
{
    ChildBoxes& children = *reinterpret_cast<ChildBoxes*>(data);
    if (!IsWindowVisible(child)) return TRUE;
    RECT box;
    GetWindowRect(child, &box);
    MapWindowPoints(nullptr, children.dialog, reinterpret_cast<POINT*>(&box), 2);
    children.boxes.push_back(box);
    return TRUE;
}

bool Covered(const std::vector<RECT>& boxes, int x, int y)
{
    POINT point = {x, y};
    for (const RECT& box : boxes) {
        if (PtInRect(&box, point)) return true;
    }
    return false;
}

}  // namespace

WINE_TEST(TheWindowHasTheSkinsShapeAndTheScreenShowsTheSkin)
{
    Pixels skin;
    if (!LoadSkin(skin)) {
        ReportFailure(__FILE__, __LINE__, "the skin bitmap could not be read from the program");
        return;
    }
    // The shipped skin: 527 x 338, its bands in their rows, no key colour.
    CHECK_EQ(527, skin.width);
    CHECK_EQ(338, skin.height);
    if (skin.width != 527 || skin.height != 338) return;
    CHECK(skin.At(300, 30) == kTitleBlue);
    CHECK(skin.At(3, 200) == kBodyBlue);
    CHECK(skin.At(263, 200) == kWhite);
    CHECK(skin.At(2, 330) != skin.At(524, 330));  // the bottom band shades from left to right

    Running running;
    if (!Start(running, kStartTimeout)) {
        ReportFailure(__FILE__, __LINE__, "the main dialog did not appear");
        return;
    }
    HWND dialog = running.dialog;
    SetCursorPos(1, 760);

    // The outline: the window's region equals the one cut from the skin.
    HRGN region = CreateRectRgn(0, 0, 0, 0);
    CHECK(GetWindowRgn(dialog, region) != ERROR);
    HRGN expected = ExpectedShape(skin);
    HRGN difference = CreateRectRgn(0, 0, 0, 0);
    CHECK_EQ(NULLREGION, CombineRgn(difference, region, expected, RGN_XOR));
    RECT outline;
    GetRgnBox(region, &outline);
    CHECK_EQ(0L, outline.left);
    CHECK_EQ(0L, outline.top);
    CHECK_EQ(527L, outline.right);
    CHECK_EQ(338L, outline.bottom);
    DeleteObject(difference);
    DeleteObject(expected);
    DeleteObject(region);

    // The face: wherever no visible control covers the client area inside
    // the outline, the screen shows the skin pixel at the same client
    // position (the skin is painted at the client origin).
    Sleep(500);  // let the first paint land
    POINT origin = {0, 0};
    ClientToScreen(dialog, &origin);
    RECT window;
    GetWindowRect(dialog, &window);
    RECT client = {origin.x, origin.y, window.left + 527, window.top + 338};
    Pixels shown;
    if (!ReadScreen(client, shown)) {
        ReportFailure(__FILE__, __LINE__, "the screen could not be read");
        Ended(running, 0);
        return;
    }
    ChildBoxes children = {dialog, {}};
    EnumChildWindows(dialog, CollectVisibleChild, reinterpret_cast<LPARAM>(&children));
    CHECK(!children.boxes.empty());
    long compared = 0, differing = 0;
    std::string firstDifference;
    for (int y = 0; y < shown.height; ++y) {
        for (int x = 0; x < shown.width; ++x) {
            if (Covered(children.boxes, x, y)) continue;
            ++compared;
            if (shown.At(x, y) == skin.At(x, y)) continue;
            if (differing++ == 0) {
                firstDifference = "(" + std::to_string(x) + ", " + std::to_string(y) + ") shows " +
                                  std::to_string(shown.At(x, y)) + " where the skin has " +
                                  std::to_string(skin.At(x, y));
            }
        }
    }
    // Most of the face is skin, not controls.
    CHECK(compared > 527L * 338L / 2);
    CHECK_EQ(0L, differing);
    if (differing) ReportFailure(__FILE__, __LINE__, "first difference at " + firstDifference);

    // The caption label: white text on the title band's blue cells. Every
    // pixel of it is the blue, the white, or (where the glyphs' edges are
    // smoothed) a blend of the two.
    RECT label;
    GetWindowRect(GetDlgItem(dialog, IDC_CAPTION_LABEL), &label);
    Pixels caption;
    CHECK(ReadScreen(label, caption));
    long white = 0, blue = 0, other = 0;
    for (int y = 0; y < caption.height; ++y) {
        for (int x = 0; x < caption.width; ++x) {
            COLORREF pixel = caption.At(x, y);
            if (pixel == kWhite) ++white;
            else if (pixel == kTitleBlue) ++blue;
            else if (!BlendOfBlueAndWhite(pixel)) ++other;
        }
    }
    CHECK(white > 50);
    CHECK(blue > white);
    CHECK_EQ(0L, other);
    SaveScreenArea("C:\\shots\\skin.bmp", &window);

    Press(dialog, IDC_CLOSE_X);
    CHECK(Ended(running, 10000));
}
