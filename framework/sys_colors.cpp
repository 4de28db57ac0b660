#include "framework/sys_colors.h"

#include <QGuiApplication>
#include <QPalette>

QColor ToQColor(COLORREF colour) { return QColor(GetRValue(colour), GetGValue(colour), GetBValue(colour)); }

COLORREF FromQColor(const QColor& colour) { return RGB(colour.red(), colour.green(), colour.blue()); }

COLORREF GetSysColor(const QPalette& palette, int index) {
  QPalette::ColorRole role = QPalette::Window;
  switch (index) {
    case COLOR_WINDOW: role = QPalette::Base; break;
    case COLOR_WINDOWTEXT: role = QPalette::Text; break;
    case COLOR_HIGHLIGHT: role = QPalette::Highlight; break;
    case COLOR_HIGHLIGHTTEXT: role = QPalette::HighlightedText; break;
    case COLOR_BTNFACE: role = QPalette::Button; break;
    case COLOR_BTNSHADOW: role = QPalette::Dark; break;
    case COLOR_BTNHIGHLIGHT: role = QPalette::Light; break;
    case COLOR_3DDKSHADOW: role = QPalette::Shadow; break;
    case COLOR_3DLIGHT: role = QPalette::Midlight; break;
    default: break;
  }
  return FromQColor(palette.color(QPalette::Active, role));
}

COLORREF GetSysColor(int index) { return GetSysColor(QGuiApplication::palette(), index); }
