#include "framework/header_ctrl.h"

#include <QFontMetrics>
#include <algorithm>
#include <cstring>
#include <utility>

#include "framework/image_list.h"

namespace {

// Copies text into a buffer of capacity bytes, cut at a character boundary and terminated.
void CopyText(const QString& text, char* buffer, int capacity) {
  if (!buffer || capacity <= 0) return;
  const QByteArray utf8 = text.toUtf8();
  qsizetype length = std::min<qsizetype>(utf8.size(), capacity - 1);
  while (length > 0 && length < utf8.size() && (uchar(utf8[length]) & 0xC0) == 0x80) --length;
  std::memcpy(buffer, utf8.constData(), size_t(length));
  buffer[length] = '\0';
}

}  // namespace

CHeaderCtrl::CHeaderCtrl() : QHeaderView(Qt::Horizontal) {
  // The platform's header: fixed column order, no stretching, columns may shrink to nothing,
  // and a click on an item is reported.
  setSectionsMovable(false);
  setStretchLastSection(false);
  setSectionsClickable(true);
  setHighlightSections(false);
  setMinimumSectionSize(0);
}

BOOL CHeaderCtrl::GetItem(int index, HDITEM* item) const {
  if (!item || index < 0 || index >= count() || !model()) return 0;
  if (item->mask & HDI_WIDTH) item->cxy = sectionSize(index);
  if (item->mask & HDI_TEXT)
    CopyText(model()->headerData(index, orientation()).toString(), item->pszText, item->cchTextMax);
  if (item->mask & HDI_FORMAT) item->fmt = model()->headerData(index, orientation(), HeaderFormatRole).toInt();
  if (item->mask & HDI_IMAGE) item->iImage = model()->headerData(index, orientation(), HeaderImageRole).toInt();
  return 1;
}

BOOL CHeaderCtrl::SetItem(int index, const HDITEM* item) {
  if (!item || index < 0 || index >= count() || !model()) return 0;
  QAbstractItemModel* items = model();
  if (item->mask & HDI_WIDTH) resizeSection(index, std::max(item->cxy, 0));
  if (item->mask & HDI_TEXT) {
    items->setHeaderData(index, orientation(), QString::fromUtf8(item->pszText ? item->pszText : ""), Qt::DisplayRole);
  }
  if (item->mask & HDI_FORMAT) items->setHeaderData(index, orientation(), item->fmt, HeaderFormatRole);
  if (item->mask & HDI_IMAGE) items->setHeaderData(index, orientation(), item->iImage, HeaderImageRole);
  return 1;
}

BOOL CHeaderCtrl::GetItemRect(int index, CRect* rect) const {
  if (!rect || index < 0 || index >= count()) return 0;
  const int left = sectionViewportPosition(index);
  *rect = CRect(left, 0, left + sectionSize(index), viewport()->height());
  return 1;
}

CRect CHeaderCtrl::GetClientRect() const { return CRect(-offset(), 0, viewport()->width(), viewport()->height()); }

CImageList* CHeaderCtrl::SetImageList(CImageList* images) {
  CImageList* previous = std::exchange(m_pImageList, images);
  viewport()->update();
  return previous;
}

void CHeaderCtrl::UpdateWindow() { viewport()->repaint(); }

QSize CHeaderCtrl::sizeHint() const {
  // Tall enough for a title or a 16-pixel header image with a pixel of frame above and below.
  return QSize(length(), std::max(fontMetrics().height() + 4, 18));
}
