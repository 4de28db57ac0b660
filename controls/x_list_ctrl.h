#pragma once

#include <vector>

#include "controls/x_header_ctrl.h"
#include "framework/image_list.h"
#include "framework/list_ctrl.h"

// One cell of a row: its colours and its check box (-1 none, 0 unchecked, 1 checked; any
// other value shows an empty box that does not count as checked).
struct CellInfo {
  COLORREF clrText;
  COLORREF clrBack;
  int nCheck;
};

// The row's cells, one per column that existed when the row was inserted. The list keeps a
// pointer to them as the row's item data and owns them.
using CellArray = std::vector<CellInfo>;

// A report list whose every cell is painted by the list: check-box cells and text cells in
// their own colours, full-row selection in the highlight colours while the list has the
// focus, and "There are no items to show in this view." when it has no rows. A header item
// whose image is 1 (unchecked) or 2 (checked) shows a box that follows the boxes of its
// column; a click on it checks or clears them all. A click in a cell never changes a box:
// the list's owner gets the list's own click notification and decides.
class CXListCtrl : public CListCtrl {
 public:
  CXListCtrl();
  ~CXListCtrl() override;

  // Attached to a dialog's template control: hooks the header as well.
  void PreSubclassWindow() override;

  int InsertItem(int item, const char* text);
  BOOL SetItemText(int item, int subItem, const char* text);
  // A null text keeps the cell's text; a colour of -1 is the palette's default.
  BOOL SetItemText(int item, int subItem, const char* text, COLORREF clrText, COLORREF clrBack);
  BOOL SetCellCheck(int item, int subItem, int nCheck);
  int GetCellCheck(int item, int subItem) const;
  BOOL DeleteAllItems();
  // Leaves item and subItem as they are when pt is on no row.
  void HitTestCell(QPoint pt, int* item, int* subItem) const;

  int GetColumnCount() const;
  // Column 0's rectangle ends where column 1 begins.
  BOOL GetCellRect(int item, int subItem, int area, CRect& rect) const;
  void RedrawCell(int item, int subItem);
  int GetHeaderCheck(int column) const;
  BOOL SetHeaderCheck(int column, int image);
  int CountCheckedCells(int column) const;

  // The header's check-box images; the owner creates them and hands them to the header.
  CImageList m_headerImages;

 protected:
  CXHeaderCtrl m_header;

  BOOL OnChildNotify(NMHDR* header, LRESULT* result) override;
  void OnCustomDraw(NMHDR* header, LRESULT* result);
  void OnColumnClick(NMHDR* header, LRESULT* result);

  void DrawTextCell(CDC* dc, int item, int subItem, const CRect& rect, COLORREF text, COLORREF back);
  void DrawCheckCell(CDC* dc, int item, int subItem, const CRect& rect, COLORREF text, COLORREF back, int nCheck);
  void ResolveCellColors(int item, int subItem, COLORREF& text, COLORREF& back) const;

  void paintEvent(QPaintEvent* event) override;
  void changeEvent(QEvent* event) override;

 private:
  void HookHeader();
  void ReadColors();
  void FreeCells();
  // Keeps the number of checked cells of every column, so that keeping a header box in step
  // does not walk the whole list on every change of a box.
  std::vector<int>& CheckedTally() const;
  // The cell's record; nullptr for a row without cells or a column it has no record for.
  CellInfo* FindCell(int item, int subItem) const;
  BOOL InRange(int item, int subItem) const;

  BOOL m_bHeaderHooked = 0;
  COLORREF m_clrBtnFace = 0;
  COLORREF m_clrHighlight = 0;
  COLORREF m_clrHighlightText = 0;
  COLORREF m_clrWindow = 0;
  COLORREF m_clrWindowText = 0;
  mutable std::vector<int> m_checkedCells;
};
