#include "controls/x_header_ctrl.h"

#include <QEvent>
#include <QPaintEvent>
#include <algorithm>

#include "controls/mem_dc.h"
#include "framework/dc.h"
#include "framework/image_list.h"
#include "framework/sys_colors.h"

namespace {

constexpr COLORREF kTitleColour = RGB(0, 0, 255);
// Titles are read into a buffer of this size: longer ones are cut.
constexpr int kTitleBuffer = 80;

}  // namespace

CXHeaderCtrl::CXHeaderCtrl() {
  ReadColors();
  // The paint fills every pixel itself; erasing first would only flicker.
  viewport()->setAutoFillBackground(false);
  viewport()->setAttribute(Qt::WA_OpaquePaintEvent);
}

void CXHeaderCtrl::ReadColors() {
  m_clrHilite = GetSysColor(COLOR_BTNHIGHLIGHT);
  m_clrShadow = GetSysColor(COLOR_BTNSHADOW);
  m_clrFace = GetSysColor(COLOR_BTNFACE);
}

void CXHeaderCtrl::changeEvent(QEvent* event) {
  CHeaderCtrl::changeEvent(event);
  if (event->type() == QEvent::PaletteChange) ReadColors();
}

CImageList* CXHeaderCtrl::SetImageList(CImageList* images) {
  CRect image;
  if (images && images->GetImageInfo(0, &image)) {
    m_cxImage = image.Width();
    m_cyImage = image.Height();
  }
  return CHeaderCtrl::SetImageList(images);
}

void CXHeaderCtrl::paintEvent(QPaintEvent* event) {
  CPaintDC dc(viewport(), event);
  CMemDC memDC(&dc);
  PaintHeader(&memDC);
}

void CXHeaderCtrl::PaintHeader(CDC* dc) {
  CRect clip;
  if (dc->GetClipBox(&clip) == ERROR_REGION) return;
  dc->FillSolidRect(clip, m_clrFace);

  const int count = GetItemCount();
  const CPen hilitePen(m_clrHilite);
  const CPen shadowPen(m_clrShadow);
  const CPen* previousPen = dc->SelectObject(&shadowPen);
  const QFont previousFont = dc->SelectObject(font());
  dc->SetBkColor(m_clrFace);

  int total = 0;
  for (int order = 0; order < count; ++order) {
    const int index = OrderToIndex(order);
    char title[kTitleBuffer] = {};
    HDITEM item;
    item.mask = HDI_WIDTH | HDI_TEXT | HDI_FORMAT | HDI_IMAGE;
    item.pszText = title;
    item.cchTextMax = kTitleBuffer;
    GetItem(index, &item);
    CRect rect;
    GetItemRect(index, &rect);

    CRect inner = rect;
    inner.left += m_nItemMargin;
    inner.right -= m_nItemMargin;
    DrawHeaderItem(dc, inner, &item);

    if (order < count - 1) {
      dc->SelectObject(&shadowPen);
      dc->MoveTo(rect.right - 1, rect.top + 2);
      dc->LineTo(rect.right - 1, rect.bottom - 2);
      dc->SelectObject(&hilitePen);
      dc->MoveTo(rect.right, rect.top + 2);
      dc->LineTo(rect.right, rect.bottom - 2);
    }
    total += item.cxy;
  }

  if (total > 0) {
    CRect frame = GetClientRect();
    frame.right = frame.left + total;
    dc->Draw3dRect(frame, m_clrHilite, m_clrShadow);
  }
  dc->SelectObject(previousFont);
  dc->SelectObject(previousPen);
}

void CXHeaderCtrl::DrawHeaderItem(CDC* dc, CRect rect, HDITEM* item) {
  const int imageWidth = DrawItemImage(dc, rect, item);
  if (imageWidth > 0) rect.left += imageWidth + m_nItemMargin;
  DrawItemText(dc, rect, item);
}

int CXHeaderCtrl::DrawItemImage(CDC* dc, CRect rect, HDITEM* item) {
  // Image 0 of the list is the blank one: it is never drawn.
  CImageList* images = GetImageList();
  if (item->iImage == 0 || !images) return 0;
  const int width = rect.Width();
  if (width <= 0) return 0;

  const int y = (rect.top + rect.bottom) / 2 - m_cyImage / 2;
  // Masked pixels take the background the header is painted with.
  const COLORREF previous = images->SetBkColor(dc->GetBkColor());
  images->Draw(dc, item->iImage, rect.left, y, std::min(width, m_cxImage), m_cyImage);
  images->SetBkColor(previous);
  return m_cxImage;
}

void CXHeaderCtrl::DrawItemText(CDC* dc, CRect rect, HDITEM* item) {
  dc->SetTextColor(kTitleColour);
  if (rect.Width() > 0 && (item->mask & HDI_TEXT) && (item->fmt & HDF_STRING)) {
    dc->DrawText(QString::fromUtf8(item->pszText), &rect, DT_CENTER | DT_VCENTER | DT_SINGLELINE | DT_END_ELLIPSIS);
  }
}
