#include "ui/StatusLine.h"

#include <cstring>

namespace {
const UINT_PTR kPaintTimerId = 1;
}

void CStatusLine::SetStatus(const char* text)
{
    m_text = text;
    m_textKnown = true;
    std::uint32_t delay = 0;
    StatusStep step = OnStatusText(m_pacing, GetTickCount(), delay);
    Apply(step, delay);
}

void CStatusLine::ShowNow()
{
    if (!m_hWnd) return;
    ::KillTimer(m_hWnd, kPaintTimerId);
    OnStatusTimer(m_pacing);
    ::InvalidateRect(m_hWnd, nullptr, TRUE);
    ::UpdateWindow(m_hWnd);
}

void CStatusLine::Apply(StatusStep step, UINT delay)
{
    if (!m_hWnd) return;
    if (step == StatusInvalidate) ::InvalidateRect(m_hWnd, nullptr, TRUE);
    if (step == StatusArmTimer) ::SetTimer(m_hWnd, kPaintTimerId, delay, nullptr);
}

LRESULT CStatusLine::WindowProc(UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_TIMER:
        if (wParam != kPaintTimerId) break;
        ::KillTimer(m_hWnd, kPaintTimerId);
        Apply(OnStatusTimer(m_pacing), 0);
        return 0;
    case WM_PAINT:
        // The control paints the window system's copy of its text: bring it
        // up to date first, without the immediate repaint its own handling
        // of a new text would do.
        if (m_shownText != m_text) {
            ::DefWindowProcA(m_hWnd, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(m_text.c_str()));
            m_shownText = m_text;
        }
        OnStatusPainted(m_pacing, GetTickCount());
        break;
    case WM_SETTEXT:
        // A text set directly is shown at once, as the control would.
        m_text = lParam ? reinterpret_cast<const char*>(lParam) : "";
        m_shownText = m_text;
        m_textKnown = true;
        break;
    case WM_GETTEXTLENGTH:
        if (!m_textKnown) break;
        return static_cast<LRESULT>(m_text.size());
    case WM_GETTEXT: {
        if (!m_textKnown) break;
        if (wParam == 0 || lParam == 0) return 0;
        std::size_t copied = m_text.size() < wParam - 1 ? m_text.size() : wParam - 1;
        std::memcpy(reinterpret_cast<char*>(lParam), m_text.data(), copied);
        reinterpret_cast<char*>(lParam)[copied] = '\0';
        return static_cast<LRESULT>(copied);
    }
    default:
        break;
    }
    return Default();
}
