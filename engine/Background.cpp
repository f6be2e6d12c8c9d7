#include "Background.h"

BackgroundPainter::BackgroundPainter(RowRule rule)
    : m_rule(rule),
      m_separator(::CreatePen(PS_SOLID, 1, RGB(kSeparatorGray, kSeparatorGray, kSeparatorGray)))
{
    for (int i = 0; i < kPenCount; ++i)
        m_grays[i].Reset(::CreatePen(PS_SOLID, 1, RGB(kTopGray - i, kTopGray - i, kTopGray - i)));
}

HPEN BackgroundPainter::PenOf(int index) const
{
    if (index == kSeparatorPen)
        return m_separator.Get();
    // A rule's answer out of range takes the nearest grey rather than reading past the pens.
    if (index < 0)
        index = 0;
    if (index > kPenCount - 1)
        index = kPenCount - 1;
    return m_grays[index].Get();
}

void BackgroundPainter::Paint(HDC dc, const RECT& client, const SeparatorRows& separators,
                              bool highContrast) const
{
    if (highContrast) {
        PaintInSystemColours(dc, client, separators);
        return;
    }
    Selection keep(dc, m_grays[0].Get());
    for (int y = 0; y <= client.bottom; ++y) {
        ::SelectObject(dc, PenOf(m_rule(y, client.bottom, separators)));
        ::MoveToEx(dc, 0, y, nullptr);
        ::LineTo(dc, client.right, y);
    }
}

HBRUSH TextOverBackground(HDC dc)
{
    ::SetTextColor(dc, RGB(0, 0, 0));
    ::SetBkColor(dc, RGB(230, 250, 210));
    ::SetBkMode(dc, TRANSPARENT);
    return static_cast<HBRUSH>(::GetStockObject(NULL_BRUSH));
}

void BackgroundPainter::PaintInSystemColours(HDC dc, const RECT& client,
                                             const SeparatorRows& separators) const
{
    const RECT whole = {0, 0, client.right + 1, client.bottom + 1};
    ::FillRect(dc, &whole, ::GetSysColorBrush(COLOR_WINDOW));
    Pen separator(::CreatePen(PS_SOLID, 1, ::GetSysColor(COLOR_WINDOWTEXT)));
    Selection keep(dc, separator.Get());
    for (int y = 0; y <= client.bottom; ++y) {
        if (m_rule(y, client.bottom, separators) != kSeparatorPen)
            continue;
        ::MoveToEx(dc, 0, y, nullptr);
        ::LineTo(dc, client.right, y);
    }
}

HBRUSH TextInSystemColours(HDC dc)
{
    ::SetTextColor(dc, ::GetSysColor(COLOR_WINDOWTEXT));
    ::SetBkColor(dc, ::GetSysColor(COLOR_WINDOW));
    ::SetBkMode(dc, OPAQUE);
    return ::GetSysColorBrush(COLOR_WINDOW);
}
