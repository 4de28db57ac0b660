#pragma once

#include <QColor>

#include "framework/win_types.h"

class QPalette;

inline constexpr int COLOR_WINDOW = 5;
inline constexpr int COLOR_WINDOWTEXT = 8;
inline constexpr int COLOR_HIGHLIGHT = 13;
inline constexpr int COLOR_HIGHLIGHTTEXT = 14;
inline constexpr int COLOR_BTNFACE = 15;
inline constexpr int COLOR_BTNSHADOW = 16;
inline constexpr int COLOR_BTNHIGHLIGHT = 20;
inline constexpr int COLOR_3DDKSHADOW = 21;
inline constexpr int COLOR_3DLIGHT = 22;

// The system colours, read from the application's palette: "window" is the background of
// lists and edits, "button face" that of dialogs and headers.
COLORREF GetSysColor(int index);
COLORREF GetSysColor(const QPalette& palette, int index);

QColor ToQColor(COLORREF colour);
COLORREF FromQColor(const QColor& colour);
