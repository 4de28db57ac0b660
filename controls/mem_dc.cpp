#include "controls/mem_dc.h"

CMemDC::CMemDC(CDC* target) : m_pTargetDC(target) {
  target->GetClipBox(&m_rcPaint);
  // Nothing to repaint: the context stays without a bitmap and reports no clip box, which
  // tells its user to draw nothing.
  if (m_rcPaint.IsRectEmpty()) return;
  // A bitmap as dense as the target's device, so that the copy is pixel for pixel.
  const qreal ratio = target->Painter().device()->devicePixelRatioF();
  m_offscreenBitmap = QImage((QSizeF(m_rcPaint.Width(), m_rcPaint.Height()) * ratio).toSize(), QImage::Format_RGB32);
  m_offscreenBitmap.setDevicePixelRatio(ratio);
  m_memoryPainter.begin(&m_offscreenBitmap);
  Attach(m_memoryPainter, QRect(0, 0, m_rcPaint.Width(), m_rcPaint.Height()));
  SetWindowOrg(m_rcPaint.left, m_rcPaint.top);
}

CMemDC::~CMemDC() {
  if (!m_memoryPainter.isActive()) return;
  m_memoryPainter.end();
  m_pTargetDC->BitBlt(m_rcPaint.left, m_rcPaint.top, m_rcPaint.Width(), m_rcPaint.Height(), m_offscreenBitmap, 0, 0);
}
