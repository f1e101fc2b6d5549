// The bitmap buttons' highlight state machine and image choice, free of any
// window.
#pragma once

#include "ui/logic/LayoutRect.h"

enum ButtonEvent { ButtonSetFocus, ButtonKillFocus, ButtonMouseMove };

// What a button does for one event. Every change of the highlight is
// followed by repainting the whole button.
struct HighlightStep {
    bool defaultFirst;     // default processing before the changes, else after
    bool takeFocus;
    bool takeCapture;
    bool releaseCapture;
    int highlight;         // 1 or 0, or -1 to leave it
};

HighlightStep NextHighlightStep(ButtonEvent event, bool holdsCapture, bool pointInside);

// A point on the right or bottom edge counts as outside.
bool PointInsideBounds(int x, int y, int right, int bottom);

enum ButtonImage { ImageFocus, ImageDisable, ImageNotFocus };

// The highlight wins over the disabled state.
ButtonImage ChooseButtonImage(bool highlighted, bool disabled);

// Whether a WM_COMMAND acts. A control's command acts only on a click
// (BN_CLICKED, 0): an owner-drawn button reports the second click of a
// double-click as BN_DOUBLECLICKED, and acting on that too would open a page
// twice. Commands without a control (menus, accelerators) always act.
bool CommandActs(int notifyCode, bool fromControl);
