// The scan's status line: a static control that takes every text the walk
// sends at once and repaints at the display's pace (ui/logic/StatusPacing).
// Its text, for its own thread and for the window system, is the newest one
// at every paint.
#pragma once

#include <string>

#include "ui/Framework.h"
#include "ui/logic/StatusPacing.h"

class CStatusLine : public CStatic {
public:
    // Keeps `text` as the line's text and has it painted at the pace.
    void SetStatus(const char* text);
    // Paints the line's newest text now (the scan's end: its final word is
    // on screen before anything else changes).
    void ShowNow();

protected:
    LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam) override;

private:
    void Apply(StatusStep step, UINT delay);

    bool m_textKnown = false;     // a text was set since the control was bound
    std::string m_text;           // the newest text
    std::string m_shownText;      // the text the window system holds
    StatusPacing m_pacing;
};
