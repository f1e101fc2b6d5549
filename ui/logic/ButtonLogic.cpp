#include "ui/logic/ButtonLogic.h"

HighlightStep NextHighlightStep(ButtonEvent event, bool holdsCapture, bool pointInside)
{
    HighlightStep step = {false, false, false, false, -1};
    switch (event) {
    case ButtonSetFocus:
        step.defaultFirst = true;
        step.highlight = 1;
        break;
    case ButtonKillFocus:
        step.defaultFirst = true;
        step.highlight = 0;
        break;
    case ButtonMouseMove:
        if (!holdsCapture) {
            // Entering the button: it takes the keyboard focus and the mouse.
            step.takeFocus = true;
            step.takeCapture = true;
            step.highlight = 1;
        } else if (!pointInside) {
            step.releaseCapture = true;
            step.highlight = 0;
        }
        break;
    }
    return step;
}

bool PointInsideBounds(int x, int y, int right, int bottom)
{
    return x >= 0 && y >= 0 && x < right && y < bottom;
}

ButtonImage ChooseButtonImage(bool highlighted, bool disabled)
{
    if (highlighted) return ImageFocus;
    if (disabled) return ImageDisable;
    return ImageNotFocus;
}

bool CommandActs(int notifyCode, bool fromControl)
{
    const int kClicked = 0;
    return !fromControl || notifyCode == kClicked;
}
