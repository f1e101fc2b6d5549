// A rectangle as the layout code computes it: position and size in pixels.
#pragma once

struct LayoutRect {
    int x;
    int y;
    int width;
    int height;
};

inline bool operator==(const LayoutRect& a, const LayoutRect& b)
{
    return a.x == b.x && a.y == b.y && a.width == b.width && a.height == b.height;
}
