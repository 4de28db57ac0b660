#include "framework/dc.h"

#include <QFontMetrics>
#include <QPaintEvent>
#include <QWidget>
#include <utility>

#include "framework/sys_colors.h"

CDC::CDC(QPainter& painter, const QRect& clipBox) { Attach(painter, clipBox); }

CDC::~CDC() = default;

void CDC::Attach(QPainter& painter, const QRect& clipBox) {
  m_painter = &painter;
  m_clipBox = clipBox;
  m_font = painter.font();
}

int CDC::GetClipBox(CRect* rect) const {
  if (!m_painter || !m_painter->isActive()) return ERROR_REGION;
  *rect = CRect(m_clipBox.translated(m_origin));
  return m_clipBox.isEmpty() ? NULLREGION : SIMPLEREGION;
}

void CDC::SetWindowOrg(int x, int y) {
  m_painter->translate(m_origin - QPoint(x, y));
  m_origin = QPoint(x, y);
}

void CDC::FillSolidRect(const CRect& rect, COLORREF colour) {
  if (rect.IsRectEmpty()) return;
  m_painter->fillRect(rect.ToQRect(), ToQColor(colour));
}

void CDC::FillSolidRect(int x, int y, int cx, int cy, COLORREF colour) {
  // Negative extents grow toward the origin, as the platform's call allows.
  FillSolidRect(CRect(std::min(x, x + cx), std::min(y, y + cy), std::max(x, x + cx), std::max(y, y + cy)), colour);
}

void CDC::Draw3dRect(const CRect& r, COLORREF topLeft, COLORREF bottomRight) {
  const int cx = r.Width();
  const int cy = r.Height();
  FillSolidRect(r.left, r.top, cx - 1, 1, topLeft);
  FillSolidRect(r.left, r.top, 1, cy - 1, topLeft);
  FillSolidRect(r.left + cx, r.top, -1, cy, bottomRight);
  FillSolidRect(r.left, r.top + cy, cx, -1, bottomRight);
}

void CDC::DrawEdge(CRect* rect, UINT edge, UINT flags) {
  if ((flags & BF_RECT) != BF_RECT) return;
  // The dark sides stop one pixel short of the far corners, where the light sides take over.
  CRect r = *rect;
  if (edge & BDR_SUNKENOUTER) {
    Draw3dRect(r, GetSysColor(COLOR_BTNSHADOW), GetSysColor(COLOR_BTNHIGHLIGHT));
    r.DeflateRect(1, 1);
  }
  if (edge & BDR_SUNKENINNER) {
    Draw3dRect(r, GetSysColor(COLOR_3DDKSHADOW), GetSysColor(COLOR_3DLIGHT));
  }
}

const CPen* CDC::SelectObject(const CPen* pen) {
  const CPen* previous = m_pen;
  m_pen = pen;
  return previous;
}

QFont CDC::SelectObject(const QFont& font) {
  QFont previous = m_font;
  m_font = font;
  return previous;
}

void CDC::MoveTo(int x, int y) { m_position = QPoint(x, y); }

void CDC::LineTo(int x, int y) {
  const QColor colour = ToQColor(m_pen ? m_pen->Colour() : RGB(0, 0, 0));
  const QPoint from = m_position;
  const QPoint to(x, y);
  m_position = to;
  if (from == to) return;
  if (from.x() == to.x() || from.y() == to.y()) {
    // A straight line covers every pixel from its start up to, not including, its end.
    const int dx = (to.x() > from.x()) - (to.x() < from.x());
    const int dy = (to.y() > from.y()) - (to.y() < from.y());
    const QPoint last = to - QPoint(dx, dy);
    const QPoint topLeft(std::min(from.x(), last.x()), std::min(from.y(), last.y()));
    const QPoint bottomRight(std::max(from.x(), last.x()), std::max(from.y(), last.y()));
    m_painter->fillRect(QRect(topLeft, bottomRight), colour);
    return;
  }
  m_painter->save();
  m_painter->setRenderHint(QPainter::Antialiasing, false);
  m_painter->setPen(QPen(colour, 0));
  m_painter->drawLine(from, to);
  m_painter->restore();
}

COLORREF CDC::SetTextColor(COLORREF colour) { return std::exchange(m_textColour, colour); }
COLORREF CDC::SetBkColor(COLORREF colour) { return std::exchange(m_bkColour, colour); }
int CDC::SetBkMode(int mode) { return std::exchange(m_bkMode, mode); }

int CDC::DrawText(const QString& source, CRect* rect, UINT format) {
  const QRect box = rect->ToQRect();
  const QFontMetrics metrics(m_font);
  QString text = source;
  int flags = 0;
  if (!(format & DT_NOPREFIX)) flags |= Qt::TextShowMnemonic;
  flags |= (format & DT_CENTER) ? Qt::AlignHCenter : (format & DT_RIGHT) ? Qt::AlignRight : Qt::AlignLeft;
  if (format & DT_SINGLELINE) {
    flags |= Qt::TextSingleLine | ((format & DT_VCENTER) ? Qt::AlignVCenter : Qt::AlignTop);
    if (format & DT_END_ELLIPSIS) text = metrics.elidedText(text, Qt::ElideRight, box.width(), flags);
  } else {
    flags |= Qt::AlignTop;
    if (format & DT_WORDBREAK) flags |= Qt::TextWordWrap;
  }

  m_painter->save();
  m_painter->setFont(m_font);
  const QRect bounds = m_painter->boundingRect(box, flags, text);
  if (!(format & DT_NOCLIP)) m_painter->setClipRect(box, Qt::IntersectClip);
  if (m_bkMode == OPAQUE) m_painter->fillRect(bounds, ToQColor(m_bkColour));
  m_painter->setPen(ToQColor(m_textColour));
  m_painter->drawText(box, flags, text);
  m_painter->restore();
  return bounds.height();
}

void CDC::DrawIcon(int x, int y, const QIcon* icon) {
  if (icon) m_painter->drawPixmap(x, y, icon->pixmap(32, 32));
}

void CDC::SaveDC() { m_saved.push_back({m_pen, m_font, m_textColour, m_bkColour, m_bkMode, m_origin}); }

void CDC::RestoreDC() {
  if (m_saved.empty()) return;
  const State state = m_saved.back();
  m_saved.pop_back();
  m_pen = state.pen;
  m_font = state.font;
  m_textColour = state.textColour;
  m_bkColour = state.bkColour;
  m_bkMode = state.bkMode;
  SetWindowOrg(state.origin.x(), state.origin.y());
}

void CDC::BitBlt(int x, int y, int cx, int cy, const QImage& source, int xSrc, int ySrc) {
  const qreal ratio = source.devicePixelRatio();
  m_painter->drawImage(QRectF(x, y, cx, cy), source, QRectF(xSrc * ratio, ySrc * ratio, cx * ratio, cy * ratio));
}

QFont GetStockFont(int object) {
  QFont font;
  if (object == ANSI_VAR_FONT) {
    font.setFamilies({QStringLiteral("MS Sans Serif"), QStringLiteral("DejaVu Sans"), QStringLiteral("Sans Serif")});
    font.setPixelSize(11);
  }
  return font;
}

CPaintDC::CPaintDC(QWidget* widget, const QPaintEvent* event) : m_painterOnWidget(widget) {
  Attach(m_painterOnWidget, event->rect());
  m_painterOnWidget.setClipRegion(event->region());
  SelectObject(widget->font());
}
