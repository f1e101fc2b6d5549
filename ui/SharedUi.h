// Drawing objects and facts the main dialog makes once and the other windows
// use.
#pragma once

#include "ui/Framework.h"
#include "ui/GdiObjects.h"

// The dialog font at height 15, weight 700: the caption label's font.
extern CFont boldUiFont;
// The screen has 120 or more pixels per logical inch.
extern bool largeFonts;
// The main dialog, once it has initialised; prompts centre over it.
extern CWnd* mainDialog;

// Colours of the skin, as 0x00BBGGRR values.
const COLORREF kTitleBlue = RGB(2, 77, 246);
const COLORREF kBodyLightBlue = RGB(207, 233, 254);
const COLORREF kPanelWhite = RGB(255, 255, 255);
