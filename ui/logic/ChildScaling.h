// The arithmetic that maps a dialog's template layout onto a fixed design
// size in pixels, free of any window: every child's screen rectangle is
// divided by the ratio of the dialog's client size to the design size.
#pragma once

#include "ui/logic/LayoutRect.h"

struct ScaleFactors {
    double horizontal;  // client width / design width
    double vertical;    // client height / design height
};

// Zero factors for a design size that is not positive.
ScaleFactors ScaleFactorsFor(int clientWidth, int clientHeight, int designWidth, int designHeight);

// The child's screen rectangle (left, top, right, bottom) with every edge
// divided by its factor and truncated toward zero, as a position on the
// screen and a size. False, leaving `scaled` alone, when a factor is not a
// positive number or an edge would not fit an int: a dialog without a client
// area keeps its children where they are.
bool ScaleChildRect(int left, int top, int right, int bottom, const ScaleFactors& factors, LayoutRect& scaled);
