// The background both updater windows draw: one-pixel rows across the client area, each in
// one of 45 greys (250 down to 206) or in the separator's grey, as the window's row rule
// says; and the colouring of the texts that let it show through.
#pragma once
#include <windows.h>

#include "winfw/Gdi.h"

// The rows a window's separators are drawn on (client coordinates); -1 where it has none.
struct SeparatorRows {
    int first = -1;
    int second = -1;
};

class BackgroundPainter {
public:
    static constexpr int kPenCount = 45;
    static constexpr int kTopGray = 250; // pen i draws grey kTopGray - i
    static constexpr int kSeparatorGray = 128;
    // What a row rule gives for a separator row.
    static constexpr int kSeparatorPen = -1;

    // The pen of row y (0 to kPenCount - 1, or kSeparatorPen) in a client area whose
    // bottom coordinate is `bottom`, in a window whose separators lie on `separators`.
    using RowRule = int (*)(int y, int bottom, const SeparatorRows& separators);

    // The pens are made here, once for the life of the window that holds the painter.
    explicit BackgroundPainter(RowRule rule);
    BackgroundPainter(const BackgroundPainter&) = delete;
    BackgroundPainter& operator=(const BackgroundPainter&) = delete;

    // Rows 0 to the client area's bottom inclusive, from the left edge to the right one;
    // the context's own pen is selected back afterwards. In high contrast no grey is
    // drawn: the window's system colour, with the separators in the text's.
    void Paint(HDC dc, const RECT& client, const SeparatorRows& separators, bool highContrast) const;

private:
    HPEN PenOf(int index) const;
    void PaintInSystemColours(HDC dc, const RECT& client, const SeparatorRows& separators) const;

    RowRule m_rule;
    Pen m_grays[kPenCount];
    Pen m_separator;
};

// Colours a control's text black over the background, which shows through: the brush a
// control-colour handler returns for it.
HBRUSH TextOverBackground(HDC dc);

// Colours a control's text in the system's text colour on the system's window colour, as
// high contrast asks: the brush a control-colour handler returns for it.
HBRUSH TextInSystemColours(HDC dc);
