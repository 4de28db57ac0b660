#pragma once

#include <QImage>
#include <QPainter>
#include <optional>

#include "framework/dc.h"

// A white image with a drawing context over it whose clip box is clip (the whole image when
// none is given). Done() ends the drawing and hands over the picture.
struct DrawingTarget {
  explicit DrawingTarget(QSize size = QSize(40, 40), QRect clip = {}, qreal ratio = 1)
      : image(size * ratio, QImage::Format_RGB32) {
    image.setDevicePixelRatio(ratio);
    image.fill(Qt::white);
    painter.begin(&image);
    dc.emplace(painter, clip.isNull() ? QRect(QPoint(0, 0), size) : clip);
  }
  QImage Done() {
    dc.reset();
    painter.end();
    return image;
  }
  QImage image;
  QPainter painter;
  std::optional<CDC> dc;
};
