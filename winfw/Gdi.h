// Owners of GDI objects and device contexts: every one is given back on every path.
#pragma once
#include <windows.h>

#include "Handle.h"

// A GDI object (pen, brush, font, bitmap, region) deleted with its owner.
template <typename H>
struct GdiKind : NullIsEmpty<H> {
    static void Close(H object) { ::DeleteObject(object); }
};
template <typename H>
using GdiObject = Owned<H, GdiKind<H>>;

using Bitmap = GdiObject<HBITMAP>;
using Font = GdiObject<HFONT>;
using Pen = GdiObject<HPEN>;
using Region = GdiObject<HRGN>;

// The client-area context of a window, released with its owner.
class WindowDC {
public:
    explicit WindowDC(HWND window) : m_window(window), m_dc(::GetDC(window)) {}
    ~WindowDC()
    {
        if (m_dc != nullptr)
            ::ReleaseDC(m_window, m_dc);
    }
    WindowDC(const WindowDC&) = delete;
    WindowDC& operator=(const WindowDC&) = delete;
    HDC Get() const { return m_dc; }

private:
    HWND m_window;
    HDC m_dc;
};

// A memory context compatible with another, deleted with its owner.
struct MemoryContext : NullIsEmpty<HDC> {
    static void Close(HDC dc) { ::DeleteDC(dc); }
};
class MemoryDC : public Owned<HDC, MemoryContext> {
public:
    explicit MemoryDC(HDC compatibleWith) : Owned(::CreateCompatibleDC(compatibleWith)) {}
};

// An object selected into a context for a scope; the previous one is selected back.
class Selection {
public:
    Selection(HDC dc, HGDIOBJ object) : m_dc(dc), m_previous(::SelectObject(dc, object)) {}
    ~Selection()
    {
        if (m_previous != nullptr && m_previous != HGDI_ERROR)
            ::SelectObject(m_dc, m_previous);
    }
    Selection(const Selection&) = delete;
    Selection& operator=(const Selection&) = delete;

private:
    HDC m_dc;
    HGDIOBJ m_previous;
};

// BeginPaint and EndPaint around one WM_PAINT.
class PaintDC {
public:
    explicit PaintDC(HWND window) : m_window(window), m_dc(::BeginPaint(window, &m_paint)) {}
    ~PaintDC() { ::EndPaint(m_window, &m_paint); }
    PaintDC(const PaintDC&) = delete;
    PaintDC& operator=(const PaintDC&) = delete;
    HDC Get() const { return m_dc; }

private:
    HWND m_window;
    PAINTSTRUCT m_paint = {};
    HDC m_dc;
};
