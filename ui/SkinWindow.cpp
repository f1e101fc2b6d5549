#include "ui/SkinWindow.h"

#include "ui/logic/ChildScaling.h"
#include "ui/logic/RegionRuns.h"

namespace {

struct RegionUnion {
    HRGN accumulated;
    bool unionFailed;
};

void UniteBatch(const unsigned char* block, std::size_t blockSize, void* context)
{
    RegionUnion& region = *static_cast<RegionUnion*>(context);
    HRGN part = ExtCreateRegion(nullptr, static_cast<DWORD>(blockSize), reinterpret_cast<const RGNDATA*>(block));
    if (!part) return;  // a batch that cannot be built is left out
    if (!region.accumulated) {
        region.accumulated = part;
        return;
    }
    if (CombineRgn(region.accumulated, region.accumulated, part, RGN_OR) == ERROR) region.unionFailed = true;
    DeleteObject(part);
}

BOOL CALLBACK ScaleOneChild(HWND child, LPARAM data)
{
    const ScaleFactors& factors = *reinterpret_cast<const ScaleFactors*>(data);
    RECT screen;
    LayoutRect scaled;
    if (GetWindowRect(child, &screen) &&
        ScaleChildRect(screen.left, screen.top, screen.right, screen.bottom, factors, scaled)) {
        POINT corner = {scaled.x, scaled.y};
        ScreenToClient(GetParent(child), &corner);
        MoveWindow(child, corner.x, corner.y, scaled.width, scaled.height, TRUE);
    }
    return TRUE;  // every child, whatever became of this one
}

}  // namespace

HRGN BuildWindowRegion(HBITMAP bitmap, COLORREF keyColour, int mode)
{
    if (!bitmap) return nullptr;
    HDC copySurface = CreateCompatibleDC(nullptr);
    if (!copySurface) return nullptr;
    BITMAP source;
    if (!GetObjectA(bitmap, sizeof source, &source) || source.bmWidth <= 0 || source.bmHeight <= 0) {
        DeleteDC(copySurface);
        return nullptr;
    }

    BITMAPINFOHEADER header;
    ZeroMemory(&header, sizeof header);
    header.biSize = sizeof header;
    header.biWidth = source.bmWidth;
    header.biHeight = source.bmHeight;  // bottom-up
    header.biPlanes = 1;
    header.biBitCount = 32;
    header.biCompression = BI_RGB;
    void* bits = nullptr;
    HBITMAP copy = CreateDIBSection(copySurface, reinterpret_cast<BITMAPINFO*>(&header), DIB_RGB_COLORS, &bits,
                                    nullptr, 0);
    if (!copy || !bits) {
        if (copy) DeleteObject(copy);
        DeleteDC(copySurface);
        return nullptr;
    }
    HGDIOBJ copyPrevious = SelectObject(copySurface, copy);
    HDC sourceSurface = CreateCompatibleDC(copySurface);
    if (!sourceSurface) {
        SelectObject(copySurface, copyPrevious);
        DeleteObject(copy);
        DeleteDC(copySurface);
        return nullptr;
    }

    BITMAP copyInfo;
    std::size_t bytesPerRow = static_cast<std::size_t>(source.bmWidth) * 4;
    if (GetObjectA(copy, sizeof copyInfo, &copyInfo) && copyInfo.bmWidthBytes > 0) {
        bytesPerRow = static_cast<std::size_t>(copyInfo.bmWidthBytes);
    }
    HGDIOBJ sourcePrevious = SelectObject(sourceSurface, bitmap);
    BitBlt(copySurface, 0, 0, source.bmWidth, source.bmHeight, sourceSurface, 0, 0, SRCCOPY);

    PixelRows rows = {static_cast<const unsigned char*>(bits), source.bmWidth, source.bmHeight,
                      AlignedRowStride(bytesPerRow), true};
    RegionUnion region = {nullptr, false};
    bool complete = CollectRegionRuns(rows, keyColour, mode, UniteBatch, &region);

    SelectObject(sourceSurface, sourcePrevious);
    SelectObject(copySurface, copyPrevious);
    DeleteDC(sourceSurface);
    DeleteDC(copySurface);
    DeleteObject(copy);
    // Part of an outline would cut away part of the window: better none.
    if ((!complete || region.unionFailed) && region.accumulated) {
        DeleteObject(region.accumulated);
        return nullptr;
    }
    return region.accumulated;
}

BOOL ScaleChildWindows(HWND window, int designWidth, int designHeight, BOOL)
{
    RECT client;
    if (!GetClientRect(window, &client)) SetRectEmpty(&client);
    ScaleFactors factors =
        ScaleFactorsFor(client.right - client.left, client.bottom - client.top, designWidth, designHeight);
    return EnumChildWindows(window, ScaleOneChild, reinterpret_cast<LPARAM>(&factors));
}
