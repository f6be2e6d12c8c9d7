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

void BackgroundPainter::Paint(HDC dc, const RECT& client) const
{
    Selection keep(dc, m_grays[0].Get());
    for (int y = 0; y <= client.bottom; ++y) {
        ::SelectObject(dc, PenOf(m_rule(y, client.bottom)));
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
