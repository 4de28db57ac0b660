#include "framework/image_list.h"

#include <utility>
#include "framework/dc.h"

#include "framework/sys_colors.h"
#include "resources/images.h"

BOOL CImageList::Create(int bitmapId, int cx, int, COLORREF mask) {
  const QImage strip = LoadBitmapResource(bitmapId).convertToFormat(QImage::Format_ARGB32);
  if (strip.isNull() || cx <= 0) return 0;
  m_size = QSize(cx, strip.height());
  m_images.clear();
  const QRgb maskPixel = qRgb(GetRValue(mask), GetGValue(mask), GetBValue(mask));
  for (int left = 0; left + cx <= strip.width(); left += cx) {
    QImage image = strip.copy(left, 0, cx, strip.height());
    for (int y = 0; y < image.height(); ++y) {
      auto* line = reinterpret_cast<QRgb*>(image.scanLine(y));
      for (int x = 0; x < image.width(); ++x) {
        if ((line[x] | 0xFF000000) == maskPixel) line[x] = 0;
      }
    }
    m_images.push_back(image);
  }
  return 1;
}

BOOL CImageList::Create(int cx, int cy, UINT, int, int) {
  if (cx <= 0 || cy <= 0) return 0;
  m_size = QSize(cx, cy);
  m_images.clear();
  return 1;
}

int CImageList::Add(const QIcon& icon) {
  if (m_size.isEmpty() || icon.isNull()) return -1;
  m_images.push_back(icon.pixmap(m_size).toImage().convertToFormat(QImage::Format_ARGB32).scaled(m_size));
  return GetImageCount() - 1;
}

BOOL CImageList::GetImageInfo(int index, CRect* imageRect) const {
  if (index < 0 || index >= GetImageCount()) return 0;
  *imageRect = CRect(0, 0, m_size.width(), m_size.height());
  return 1;
}

COLORREF CImageList::SetBkColor(COLORREF colour) { return std::exchange(m_bkColour, colour); }

void CImageList::Draw(CDC* dc, int index, int x, int y, int cx, int cy) const {
  if (index < 0 || index >= GetImageCount() || cx <= 0 || cy <= 0) return;
  if (m_bkColour != CLR_NONE) dc->FillSolidRect(x, y, cx, cy, m_bkColour);
  dc->Painter().drawImage(QPoint(x, y), Image(index), QRect(0, 0, cx, cy));
}
