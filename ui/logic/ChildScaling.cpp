#include "ui/logic/ChildScaling.h"

namespace {

const double kIntLimit = 2147483647.0;

bool DivideEdge(int edge, double factor, int& result)
{
    double divided = edge / factor;
    if (!(divided > -kIntLimit && divided < kIntLimit)) return false;
    result = static_cast<int>(divided);  // truncation toward zero
    return true;
}

}  // namespace

ScaleFactors ScaleFactorsFor(int clientWidth, int clientHeight, int designWidth, int designHeight)
{
    ScaleFactors factors = {0.0, 0.0};
    if (designWidth > 0) factors.horizontal = static_cast<double>(clientWidth) / designWidth;
    if (designHeight > 0) factors.vertical = static_cast<double>(clientHeight) / designHeight;
    return factors;
}

bool ScaleChildRect(int left, int top, int right, int bottom, const ScaleFactors& factors, LayoutRect& scaled)
{
    if (!(factors.horizontal > 0.0) || !(factors.vertical > 0.0)) return false;
    int l, t, r, b;
    if (!DivideEdge(left, factors.horizontal, l) || !DivideEdge(right, factors.horizontal, r) ||
        !DivideEdge(top, factors.vertical, t) || !DivideEdge(bottom, factors.vertical, b)) {
        return false;
    }
    long long width = static_cast<long long>(r) - l, height = static_cast<long long>(b) - t;
    const long long intRange = 2147483647LL;
    if (width > intRange || width < -intRange || height > intRange || height < -intRange) return false;
    scaled.x = l;
    scaled.y = t;
    scaled.width = static_cast<int>(width);
    scaled.height = static_cast<int>(height);
    return true;
}
