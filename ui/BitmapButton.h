// Owner-drawn push buttons whose whole face is a bitmap chosen by state: the
// focus image while highlighted (keyboard focus or mouse over it), the
// disable image while disabled, the notfocus image otherwise. A button finds
// its images by its own window text ("SCAN" uses SCAN_FOCUS, SCAN_NOTFOCUS
// and SCAN_DISABLE) and sizes itself to them.
#pragma once

#include <string>

#include "ui/Framework.h"
#include "ui/GdiObjects.h"

class CStateBitmapButton : public CButton {
public:
    CStateBitmapButton();

    // Binds to control `controlId` of `parent` unless already bound, then
    // loads the images named after the window text. False when the button
    // cannot be bound or has no text; true otherwise, images or not.
    bool LoadFromWindowText(int controlId, CWnd* parent);
    // Loads the three images; false when the focus or notfocus image is
    // missing. Sizes the button to the notfocus image.
    bool LoadStateBitmaps(const char* focusName, const char* notFocusName, const char* disableName);
    bool FitToBitmap();

    void DrawItem(LPDRAWITEMSTRUCT drawItem) override;

    int m_highlighted;
    RECT m_bounds;
    CBitmap m_bitmapDisable;
    CBitmap m_bitmapNotFocus;
    CBitmap m_bitmapFocus;

protected:
    LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam) override;
};

// The prompt dialog's buttons: the platform's arrow over them.
class NCExButton : public CStateBitmapButton {
};

// The main dialog's buttons: may carry a cursor of their own.
class CExButton : public CStateBitmapButton {
public:
    CExButton();
    // Takes the help program's hand-shaped link cursor (or, where the help
    // program has none, the system's hand) once.
    void LoadHandCursor();

    CCursorCopy m_handCursor;

protected:
    LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam) override;
};

// The static text that paints its window text in white, in the shared bold
// font, on the blue of the title band.
class CCaptionLabel : public CStatic {
public:
    CCaptionLabel();

    std::string m_labelText;
    RECT m_labelRect;
    COLORREF m_textColor;

protected:
    LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam) override;
};
