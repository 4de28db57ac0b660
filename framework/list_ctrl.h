#pragma once

#include <QPoint>
#include <QTreeView>
#include <optional>

#include "framework/control_wnd.h"
#include "framework/win_types.h"

class CDC;
class CHeaderCtrl;
class ListModel;

// Column formats
inline constexpr int LVCFMT_LEFT = 0x0000;
inline constexpr int LVCFMT_RIGHT = 0x0001;
inline constexpr int LVCFMT_CENTER = 0x0002;

// Item states
inline constexpr UINT LVIS_SELECTED = 0x0002;

// Extended list styles
inline constexpr DWORD LVS_EX_FULLROWSELECT = 0x0020;

// Sub-item rectangles
inline constexpr int LVIR_BOUNDS = 0;

// Custom-draw stages and answers
inline constexpr UINT NM_CUSTOMDRAW = UINT(-12);
inline constexpr DWORD CDDS_PREPAINT = 0x00001;
inline constexpr DWORD CDDS_ITEM = 0x10000;
inline constexpr DWORD CDDS_ITEMPREPAINT = CDDS_ITEM | CDDS_PREPAINT;
inline constexpr DWORD CDDS_SUBITEM = 0x20000;
inline constexpr LRESULT CDRF_DODEFAULT = 0x00;
inline constexpr LRESULT CDRF_SKIPDEFAULT = 0x04;
inline constexpr LRESULT CDRF_NOTIFYITEMDRAW = 0x20;
inline constexpr LRESULT CDRF_NOTIFYSUBITEMDRAW = 0x20;

// NM_CLICK: where the button went up, in client coordinates, and what lies there.
struct NMITEMACTIVATE {
  NMHDR hdr;
  int iItem;
  int iSubItem;
  QPoint ptAction;
};

// LVN_COLUMNCLICK: iSubItem is the column.
struct NMLISTVIEW {
  NMHDR hdr;
  int iItem;
  int iSubItem;
};

struct NMCUSTOMDRAW {
  NMHDR hdr;
  DWORD dwDrawStage;
  CDC* hdc;
  int dwItemSpec;      // the row
  LPARAM lItemlParam;  // the row's item data
};

// NM_CUSTOMDRAW of a list: the colours are the handler's to fill in.
struct NMLVCUSTOMDRAW {
  NMCUSTOMDRAW nmcd;
  COLORREF clrText;
  COLORREF clrTextBk;
  int iSubItem;
};

struct LVHITTESTINFO {
  QPoint pt;
  int iItem = -1;
  int iSubItem = -1;
};

// A list view in report view: rows of text cells under a header, one item-data value per
// row, row selection. Client coordinates are those of the rows' area under the header.
// Rows have one height, so a row's place is known without laying out the others, and a
// list filled row by row costs the same for every row.
//
// Notifications go first to the list itself (OnChildNotify, as reflected notifications do)
// and then, unless it consumes them, to the dialog it lies in: NM_CLICK when the left button
// goes down and up on one cell of one row (or both times on no row), LVN_COLUMNCLICK for a
// click on a header item, NM_CUSTOMDRAW while painting (before the paint, before each row
// and, when asked, before each cell).
class CListCtrl : public QTreeView, public CControlWnd {
 public:
  CListCtrl();

  // Applies the template style: single selection, border.
  void PreSubclassWindow() override;

  int InsertColumn(int column, const QString& heading, int format, int width);
  // Returns the new row's index, or -1 for a negative index; an index past the end appends.
  int InsertItem(int item, const char* text);
  BOOL SetItemText(int item, int subItem, const char* text);
  QString GetItemText(int item, int subItem) const;
  BOOL SetItemData(int item, LPARAM data);
  LPARAM GetItemData(int item) const;
  UINT GetItemState(int item, UINT mask) const;
  BOOL DeleteAllItems();
  int GetItemCount() const;

  DWORD GetExtendedStyle() const { return m_dwExStyle; }
  DWORD SetExtendedStyle(DWORD style);

  // The cell's rectangle (LVIR_BOUNDS); for column 0 the whole row, as the platform reports it.
  BOOL GetSubItemRect(int item, int subItem, int area, CRect& rect) const;
  // The row under info->pt, or -1; fills in the row and the column.
  int SubItemHitTest(LVHITTESTINFO* info) const;

  CHeaderCtrl* GetHeaderCtrl() const;

  // While the left button is down the rows stay where the press found them, so that the
  // release meets the cell that was pressed; the current row is brought into view after.
  void scrollTo(const QModelIndex& index, ScrollHint hint = EnsureVisible) override;

 protected:
  // A notification on its way to the parent; TRUE consumes it with *result.
  virtual BOOL OnChildNotify(NMHDR* header, LRESULT* result);
  // Sends a notification through OnChildNotify to the parent dialog.
  LRESULT SendNotify(NMHDR* header);

  // Shows header in place of the current one and returns TRUE. The list owns the header it
  // made itself; a header given here stays its owner's, who calls UnsubclassHeader before
  // destroying it.
  BOOL SubclassHeader(CHeaderCtrl* header);
  void UnsubclassHeader();

  // Invalidates a rectangle of the client area; with update, repaints it at once.
  void InvalidateRect(const CRect& rect, BOOL update);

  void paintEvent(QPaintEvent* event) override;
  // The header shows the titles in the list's font, whatever font the list is given.
  void changeEvent(QEvent* event) override;
  void drawRow(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  void mouseDoubleClickEvent(QMouseEvent* event) override;

 private:
  friend class CellDelegate;

  bool HasCell(int item, int subItem) const;
  void InstallHeader(CHeaderCtrl* header);
  int RowHeight() const;
  CRect RowRect(int item) const;
  // Asks for the custom drawing of one cell; FALSE leaves the cell to the default painting.
  BOOL CustomDrawCell(QPainter* painter, const QModelIndex& index) const;
  LRESULT SendCustomDraw(DWORD stage, CDC* dc, int item, int subItem) const;

  ListModel* m_pModel;
  DWORD m_dwExStyle = 0;
  // Answers to the custom-draw stages of the paint and of the row in progress.
  mutable LRESULT m_paintAnswer = -1;
  mutable LRESULT m_rowAnswer = CDRF_DODEFAULT;
  QRect m_paintClip;
  // The cell the left button went down on, until it goes up.
  std::optional<LVHITTESTINFO> m_pressed;
  bool m_bHeaderSubclassed = false;
};
