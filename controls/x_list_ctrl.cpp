#include "controls/x_list_ctrl.h"

#include <QEvent>
#include <QPaintEvent>

#include "framework/dc.h"
#include "framework/sys_colors.h"

namespace {

// A colour argument of -1 asks for the palette's default.
constexpr COLORREF kDefaultColour = COLORREF(-1);

// The check mark: seven strokes three pixels tall, right to left, each starting this far
// below the first.
constexpr int kCheckStrokeTops[7] = {0, 1, 2, 3, 4, 3, 2};

}  // namespace

CXListCtrl::CXListCtrl() { ReadColors(); }

CXListCtrl::~CXListCtrl() {
  FreeCells();
  // The header member dies before the view does; give the view a header of its own again,
  // out of the parent window first: when the list dies with its window, that window is
  // tearing down its children and must not see a new one arrive.
  setParent(nullptr);
  UnsubclassHeader();
}

void CXListCtrl::ReadColors() {
  m_clrBtnFace = GetSysColor(COLOR_BTNFACE);
  m_clrHighlight = GetSysColor(COLOR_HIGHLIGHT);
  m_clrHighlightText = GetSysColor(COLOR_HIGHLIGHTTEXT);
  m_clrWindow = GetSysColor(COLOR_WINDOW);
  m_clrWindowText = GetSysColor(COLOR_WINDOWTEXT);
}

void CXListCtrl::changeEvent(QEvent* event) {
  CListCtrl::changeEvent(event);
  if (event->type() == QEvent::PaletteChange) ReadColors();
}

void CXListCtrl::PreSubclassWindow() {
  CListCtrl::PreSubclassWindow();
  HookHeader();
}

void CXListCtrl::HookHeader() {
  if (m_bHeaderHooked) return;
  if (SubclassHeader(&m_header)) m_bHeaderHooked = 1;
}

BOOL CXListCtrl::InRange(int item, int subItem) const {
  return item >= 0 && item < GetItemCount() && subItem >= 0 && subItem < GetColumnCount();
}

CellInfo* CXListCtrl::FindCell(int item, int subItem) const {
  auto* cells = reinterpret_cast<CellArray*>(GetItemData(item));
  if (!cells || subItem < 0 || size_t(subItem) >= cells->size()) return nullptr;
  return &(*cells)[size_t(subItem)];
}

void CXListCtrl::FreeCells() {
  for (int item = 0; item < GetItemCount(); ++item) {
    delete reinterpret_cast<CellArray*>(GetItemData(item));
    SetItemData(item, 0);
  }
  m_checkedCells.assign(m_checkedCells.size(), 0);
}

std::vector<int>& CXListCtrl::CheckedTally() const {
  // Columns are inserted before the rows; should one come later, count afresh.
  if (m_checkedCells.size() != size_t(GetColumnCount())) {
    m_checkedCells.assign(size_t(GetColumnCount()), 0);
    for (int item = 0; item < GetItemCount(); ++item) {
      for (int column = 0; column < GetColumnCount(); ++column) {
        const CellInfo* cell = FindCell(item, column);
        if (cell && cell->nCheck == 1) ++m_checkedCells[size_t(column)];
      }
    }
  }
  return m_checkedCells;
}

int CXListCtrl::InsertItem(int item, const char* text) {
  if (item < 0) return -1;
  const int inserted = CListCtrl::InsertItem(item, text);
  if (inserted < 0) return inserted;
  auto* cells =
      new CellArray(size_t(GetColumnCount()), CellInfo{GetSysColor(COLOR_WINDOWTEXT), GetSysColor(COLOR_WINDOW), -1});
  if (!cells->empty()) {
    cells->front().clrText = m_clrWindowText;
    cells->front().clrBack = m_clrWindow;
  }
  SetItemData(inserted, reinterpret_cast<LPARAM>(cells));
  // The first row takes the place of the empty-list text.
  if (GetItemCount() == 1) viewport()->update();
  return inserted;
}

BOOL CXListCtrl::SetItemText(int item, int subItem, const char* text) {
  if (!InRange(item, subItem)) return 0;
  const BOOL result = CListCtrl::SetItemText(item, subItem, text);
  RedrawCell(item, subItem);
  return result;
}

BOOL CXListCtrl::SetItemText(int item, int subItem, const char* text, COLORREF clrText, COLORREF clrBack) {
  if (!InRange(item, subItem)) return 0;
  const BOOL result = text ? CListCtrl::SetItemText(item, subItem, text) : 1;
  if (CellInfo* cell = FindCell(item, subItem)) {
    cell->clrText = clrText == kDefaultColour ? m_clrWindowText : clrText;
    cell->clrBack = clrBack == kDefaultColour ? m_clrWindow : clrBack;
  }
  RedrawCell(item, subItem);
  return result;
}

BOOL CXListCtrl::SetCellCheck(int item, int subItem, int nCheck) {
  if (!InRange(item, subItem)) return 0;
  CellInfo* cell = FindCell(item, subItem);
  if (!cell) return 0;
  CheckedTally()[size_t(subItem)] += (nCheck == 1) - (cell->nCheck == 1);
  cell->nCheck = nCheck;
  RedrawCell(item, subItem);
  // A header box shows checked only while every row's box of its column is checked.
  if (GetHeaderCheck(subItem) != 0) SetHeaderCheck(subItem, CountCheckedCells(subItem) == GetItemCount() ? 2 : 1);
  return 1;
}

int CXListCtrl::GetCellCheck(int item, int subItem) const {
  if (!InRange(item, subItem)) return -1;
  const CellInfo* cell = FindCell(item, subItem);
  return cell ? cell->nCheck : -1;
}

BOOL CXListCtrl::DeleteAllItems() {
  FreeCells();
  return CListCtrl::DeleteAllItems();
}

void CXListCtrl::HitTestCell(QPoint pt, int* item, int* subItem) const {
  LVHITTESTINFO hit;
  hit.pt = pt;
  if (SubItemHitTest(&hit) == -1) return;
  *item = hit.iItem;
  *subItem = hit.iSubItem;
}

int CXListCtrl::GetColumnCount() const { return GetHeaderCtrl()->GetItemCount(); }

BOOL CXListCtrl::GetCellRect(int item, int subItem, int area, CRect& rect) const {
  if (!InRange(item, subItem) || !GetSubItemRect(item, subItem, area, rect)) return 0;
  // The list reports the whole row for column 0.
  CRect next;
  if (subItem == 0 && GetColumnCount() >= 2 && GetSubItemRect(item, 1, area, next)) rect.right = next.left;
  return 1;
}

void CXListCtrl::RedrawCell(int item, int subItem) {
  CRect rect;
  if (GetCellRect(item, subItem, LVIR_BOUNDS, rect)) InvalidateRect(rect, 1);
}

int CXListCtrl::GetHeaderCheck(int column) const {
  if (column < 0 || column >= GetColumnCount()) return -1;
  HDITEM item;
  item.mask = HDI_IMAGE;
  GetHeaderCtrl()->GetItem(column, &item);
  return item.iImage;
}

BOOL CXListCtrl::SetHeaderCheck(int column, int image) {
  if (column < 0 || column >= GetColumnCount()) return 0;
  HDITEM item;
  item.mask = HDI_IMAGE;
  item.iImage = image;
  GetHeaderCtrl()->SetItem(column, &item);
  return 1;
}

int CXListCtrl::CountCheckedCells(int column) const {
  if (column < 0 || column >= GetColumnCount()) return 0;
  return CheckedTally()[size_t(column)];
}

BOOL CXListCtrl::OnChildNotify(NMHDR* header, LRESULT* result) {
  switch (header->code) {
    case NM_CUSTOMDRAW: OnCustomDraw(header, result); return 1;
    case LVN_COLUMNCLICK:
      // The parent hears of the click as well.
      OnColumnClick(header, result);
      return 0;
    default: return 0;
  }
}

void CXListCtrl::OnCustomDraw(NMHDR* header, LRESULT* result) {
  auto* draw = reinterpret_cast<NMLVCUSTOMDRAW*>(header);
  *result = CDRF_DODEFAULT;
  switch (draw->nmcd.dwDrawStage) {
    case CDDS_PREPAINT: *result = CDRF_NOTIFYITEMDRAW; break;
    case CDDS_ITEMPREPAINT: *result = CDRF_NOTIFYSUBITEMDRAW; break;
    case CDDS_ITEMPREPAINT | CDDS_SUBITEM: {
      const int item = draw->nmcd.dwItemSpec;
      const int subItem = draw->iSubItem;
      const CellInfo* cell = FindCell(item, subItem);
      draw->clrText = cell ? cell->clrText : m_clrWindowText;
      draw->clrTextBk = cell ? cell->clrBack : m_clrWindow;
      CRect rect;
      GetCellRect(item, subItem, LVIR_BOUNDS, rect);
      if (cell && cell->nCheck != -1) {
        DrawCheckCell(draw->nmcd.hdc, item, subItem, rect, draw->clrText, draw->clrTextBk, cell->nCheck);
      } else {
        DrawTextCell(draw->nmcd.hdc, item, subItem, rect, draw->clrText, draw->clrTextBk);
      }
      *result = CDRF_SKIPDEFAULT;
      break;
    }
    default: break;
  }
}

void CXListCtrl::ResolveCellColors(int item, int subItem, COLORREF& text, COLORREF& back) const {
  if (!(GetItemState(item, LVIS_SELECTED) & LVIS_SELECTED)) return;
  if (!(GetExtendedStyle() & LVS_EX_FULLROWSELECT) && subItem != 0) return;
  if (hasFocus()) {
    text = m_clrHighlightText;
    back = m_clrHighlight;
  } else if (GetWindowStyle(this) & LVS_SHOWSELALWAYS) {
    text = m_clrWindowText;
    back = m_clrBtnFace;
  }
}

void CXListCtrl::DrawTextCell(CDC* dc, int item, int subItem, const CRect& rect, COLORREF text, COLORREF back) {
  ResolveCellColors(item, subItem, text, back);
  dc->FillSolidRect(rect, back);
  const QString label = GetItemText(item, subItem);
  if (label.isEmpty()) return;

  HDITEM column;
  column.mask = HDI_FORMAT;
  GetHeaderCtrl()->GetItem(subItem, &column);
  UINT format = DT_SINGLELINE | DT_VCENTER;
  if ((column.fmt & HDF_JUSTIFYMASK) == HDF_CENTER) format |= DT_CENTER;
  if ((column.fmt & HDF_JUSTIFYMASK) == HDF_RIGHT) format |= DT_RIGHT;

  dc->SetBkMode(TRANSPARENT);
  dc->SetTextColor(text);
  dc->SetBkColor(back);
  CRect area = rect;
  dc->DrawText(label, &area, format);
}

void CXListCtrl::DrawCheckCell(CDC* dc, int item, int subItem, const CRect& rect, COLORREF text, COLORREF back,
                               int nCheck) {
  ResolveCellColors(item, subItem, text, back);
  dc->FillSolidRect(rect, back);

  // A square box as tall as the cell less one pixel, 9 pixels in, or centred without text.
  const int side = rect.Height() - 1;
  CRect box(rect.left + 9, rect.top, rect.left + 9 + side, rect.bottom - 1);
  const QString label = GetItemText(item, subItem);
  if (label.isEmpty()) {
    box.left = rect.left + rect.Width() / 2 - side / 2 - 1;
    box.right = box.left + side;
  }
  dc->FillSolidRect(box, m_clrWindow);
  box.left += 1;
  dc->DrawEdge(&box, EDGE_SUNKEN, BF_RECT);

  if (nCheck == 1) {
    const CPen black(RGB(0, 0, 0));
    const CPen* previous = dc->SelectObject(&black);
    const int x = box.left + 9;
    const int y = box.top + 3;
    for (int stroke = 0; stroke < 7; ++stroke) {
      dc->MoveTo(x - stroke, y + kCheckStrokeTops[stroke]);
      dc->LineTo(x - stroke, y + kCheckStrokeTops[stroke] + 3);
    }
    dc->SelectObject(previous);
  }

  if (!label.isEmpty()) {
    dc->SetBkMode(TRANSPARENT);
    dc->SetTextColor(text);
    dc->SetBkColor(back);
    CRect area = rect;
    area.left = box.right + 4;
    dc->DrawText(label, &area, DT_SINGLELINE | DT_VCENTER);
  }
}

void CXListCtrl::OnColumnClick(NMHDR* header, LRESULT* result) {
  const int column = reinterpret_cast<const NMLISTVIEW*>(header)->iSubItem;
  // 0: the column has no header box; -1: no such column.
  const int old = GetHeaderCheck(column);
  if (old > 0) {
    SetHeaderCheck(column, old == 1 ? 2 : 1);
    GetHeaderCtrl()->UpdateWindow();
    // Only cells that show a box follow the header's box.
    const int state = old == 1 ? 1 : 0;
    int boxes = 0;
    for (int item = 0; item < GetItemCount(); ++item) {
      CellInfo* cell = FindCell(item, column);
      if (!cell || cell->nCheck == -1) continue;
      cell->nCheck = state;
      ++boxes;
      RedrawCell(item, column);
    }
    CheckedTally()[size_t(column)] = state * boxes;
  }
  *result = 0;
}

void CXListCtrl::paintEvent(QPaintEvent* event) {
  CListCtrl::paintEvent(event);
  if (GetItemCount() > 0) return;

  CPaintDC dc(viewport(), event);
  dc.SaveDC();
  // From the list's outer top edge, down by the header's height and 10 pixels more.
  CRect rect(QRect(viewport()->mapFrom(this, QPoint(0, 0)), size()));
  CRect firstItem;
  if (GetHeaderCtrl()->GetItemRect(0, &firstItem)) rect.top += firstItem.bottom;
  rect.top += 10;
  dc.FillSolidRect(rect, m_clrWindow);
  dc.SetTextColor(m_clrWindowText);
  dc.SetBkColor(m_clrWindow);
  dc.SelectObject(GetStockFont(ANSI_VAR_FONT));
  dc.DrawText(QStringLiteral("There are no items to show in this view."), &rect,
              DT_CENTER | DT_WORDBREAK | DT_NOCLIP | DT_NOPREFIX);
  dc.RestoreDC();
}
