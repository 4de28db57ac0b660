#pragma once

#include <QImage>
#include <QPainter>

#include "framework/dc.h"

// A drawing context that paints into an off-screen bitmap the size of the target's clip box
// and copies the picture onto the target in one piece when it is destroyed, so that a
// window that paints its background and then its contents does not flicker. Drawing uses
// the target's logical coordinates.
class CMemDC : public CDC {
 public:
  explicit CMemDC(CDC* target);
  ~CMemDC() override;

 private:
  QImage m_offscreenBitmap;
  CDC* m_pTargetDC;
  CRect m_rcPaint;
  // Declared after the bitmap: it paints on it, so it must end first.
  QPainter m_memoryPainter;
};
