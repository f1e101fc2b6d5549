// Owners of drawing objects: each releases what it holds when it is given a
// new object and when it goes out of scope, so every bitmap, font, brush,
// region, cursor copy and device context belongs to exactly one owner.
#pragma once

#include <windows.h>

// A GDI object (bitmap, font, brush, region) released with DeleteObject.
template <typename Handle>
class CGdiObjectOwner {
public:
    CGdiObjectOwner() : m_handle(nullptr) {}
    explicit CGdiObjectOwner(Handle handle) : m_handle(handle) {}
    ~CGdiObjectOwner() { DeleteObject(); }
    CGdiObjectOwner(const CGdiObjectOwner&) = delete;
    CGdiObjectOwner& operator=(const CGdiObjectOwner&) = delete;

    Handle Get() const { return m_handle; }
    operator Handle() const { return m_handle; }
    bool IsEmpty() const { return m_handle == nullptr; }

    // Takes `handle`, releasing the object held before.
    void Attach(Handle handle)
    {
        if (handle == m_handle) return;
        DeleteObject();
        m_handle = handle;
    }
    // Gives the object up without releasing it (for instance to the system).
    Handle Detach()
    {
        Handle handle = m_handle;
        m_handle = nullptr;
        return handle;
    }
    void DeleteObject()
    {
        if (m_handle) ::DeleteObject(m_handle);
        m_handle = nullptr;
    }

private:
    Handle m_handle;
};

typedef CGdiObjectOwner<HBITMAP> CBitmap;
typedef CGdiObjectOwner<HFONT> CFont;
typedef CGdiObjectOwner<HBRUSH> CBrush;
typedef CGdiObjectOwner<HRGN> CRgn;

// A copy of a cursor, released with DestroyCursor.
class CCursorCopy {
public:
    CCursorCopy() : m_cursor(nullptr) {}
    ~CCursorCopy() { Release(); }
    CCursorCopy(const CCursorCopy&) = delete;
    CCursorCopy& operator=(const CCursorCopy&) = delete;

    HCURSOR Get() const { return m_cursor; }
    void Attach(HCURSOR cursor)
    {
        if (cursor == m_cursor) return;
        Release();
        m_cursor = cursor;
    }
    void Release()
    {
        if (m_cursor) DestroyCursor(m_cursor);
        m_cursor = nullptr;
    }

private:
    HCURSOR m_cursor;
};

// A memory device context compatible with `reference` (null: the screen).
class CMemoryDC {
public:
    explicit CMemoryDC(HDC reference) : m_dc(CreateCompatibleDC(reference)) {}
    ~CMemoryDC()
    {
        if (m_dc) DeleteDC(m_dc);
    }
    CMemoryDC(const CMemoryDC&) = delete;
    CMemoryDC& operator=(const CMemoryDC&) = delete;
    HDC Get() const { return m_dc; }

private:
    HDC m_dc;
};

// A window's device context, from GetDC to ReleaseDC.
class CWindowDC {
public:
    explicit CWindowDC(HWND window) : m_window(window), m_dc(GetDC(window)) {}
    ~CWindowDC()
    {
        if (m_dc) ReleaseDC(m_window, m_dc);
    }
    CWindowDC(const CWindowDC&) = delete;
    CWindowDC& operator=(const CWindowDC&) = delete;
    HDC Get() const { return m_dc; }

private:
    HWND m_window;
    HDC m_dc;
};

// One paint cycle, from BeginPaint to EndPaint.
class CPaintDC {
public:
    explicit CPaintDC(HWND window) : m_window(window) { m_dc = BeginPaint(window, &m_paint); }
    ~CPaintDC() { EndPaint(m_window, &m_paint); }
    CPaintDC(const CPaintDC&) = delete;
    CPaintDC& operator=(const CPaintDC&) = delete;
    HDC Get() const { return m_dc; }

private:
    HWND m_window;
    PAINTSTRUCT m_paint;
    HDC m_dc;
};

// An object selected into a device context, put back when this goes.
class CSelectedObject {
public:
    CSelectedObject(HDC dc, HGDIOBJ object) : m_dc(dc), m_previous(object ? SelectObject(dc, object) : nullptr) {}
    ~CSelectedObject()
    {
        if (m_previous) SelectObject(m_dc, m_previous);
    }
    CSelectedObject(const CSelectedObject&) = delete;
    CSelectedObject& operator=(const CSelectedObject&) = delete;
    bool Selected() const { return m_previous != nullptr; }

private:
    HDC m_dc;
    HGDIOBJ m_previous;
};
