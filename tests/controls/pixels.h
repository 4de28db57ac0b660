#pragma once

#include <QImage>
#include <QRect>
#include <QScreen>
#include <QWidget>

#include "framework/win_types.h"

// Helpers for reading the pictures the controls paint.

inline QRgb Rgb(COLORREF colour) { return qRgb(GetRValue(colour), GetGValue(colour), GetBValue(colour)); }

// The widget painted afresh, at one pixel per point.
inline QImage Render(QWidget* widget) { return widget->grab().toImage().convertToFormat(QImage::Format_RGB32); }

// The smallest rectangle around every pixel of this colour inside area; empty when none.
inline QRect BoundsOf(const QImage& image, QRgb colour, QRect area) {
  area &= image.rect();
  QRect bounds;
  for (int y = area.top(); y <= area.bottom(); ++y) {
    for (int x = area.left(); x <= area.right(); ++x) {
      if (image.pixel(x, y) == colour) bounds |= QRect(x, y, 1, 1);
    }
  }
  return bounds;
}

// The number of pixels inside area that differ from colour.
inline int CountOtherThan(const QImage& image, QRgb colour, QRect area) {
  area &= image.rect();
  int count = 0;
  for (int y = area.top(); y <= area.bottom(); ++y) {
    for (int x = area.left(); x <= area.right(); ++x) count += image.pixel(x, y) != colour;
  }
  return count;
}

// What the screen shows of the widget now, without painting anything.
inline QImage OnScreen(QWidget* widget) {
  QWidget* window = widget->window();
  const QPoint origin = widget->mapTo(window, QPoint(0, 0));
  return window->screen()
      ->grabWindow(window->winId(), origin.x(), origin.y(), widget->width(), widget->height())
      .toImage()
      .convertToFormat(QImage::Format_RGB32);
}
