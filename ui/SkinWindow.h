// The skinned window's shape and layout: a window region cut from a bitmap,
// and the dialog's children mapped onto the skin's design size.
#pragma once

#include <windows.h>

// A region covering the pixels of `bitmap` that differ from `keyColour`
// (mode nonzero) or that equal it (mode zero); null when there is no bitmap,
// no drawing surface, no 32-bit copy, the rectangle list cannot be made, or
// no part of the region could be built. The caller owns the region.
HRGN BuildWindowRegion(HBITMAP bitmap, COLORREF keyColour, int mode);

// Divides every child's (and grandchild's) screen rectangle by the ratio of
// the window's client size to the design size. This scales the layout
// proportionally only while the window's top-left corner is at the screen
// origin. `hasMenu` plays no part in the scaling. Returns the enumeration's
// result.
BOOL ScaleChildWindows(HWND window, int designWidth, int designHeight, BOOL hasMenu);
