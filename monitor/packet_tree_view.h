#pragma once

#include "framework/control_wnd.h"

#include <QAbstractItemView>
#include <QElapsedTimer>
#include <QPersistentModelIndex>

#include <vector>

class CImageList;

// The traffic tree's view. It draws like the tree control (CTreeCtrl: its lines, buttons,
// images and one uniform row height) but lays out only what it shows, so that appending a
// row or painting costs the same at four million rows as at ten.
//
// It keeps only the set of expanded items, few in practice. The rows a user scrolls
// through are the top-level items with, after each expanded one, its visible descendants;
// a row number is turned into an item by walking the expanded top-level items in order.
// The vertical scroll position is the row at the top.
//
// When the oldest items leave the top, the item that was at the top stays there (or the
// first item comes to the top when the items in view have left). Expanding or collapsing
// an item keeps the top item too.
class PacketTreeView : public QAbstractItemView, public CControlWnd {
 public:
  PacketTreeView();

  void PreSubclassWindow() override;
  // The items' images are drawn at the size of the list's images; the model supplies them.
  void SetImageList(const CImageList* images);

  bool rootIsDecorated() const { return m_rootIsDecorated; }
  void setRootIsDecorated(bool decorated);
  int indentation() const { return m_indent; }
  bool isExpanded(const QModelIndex& index) const;
  void expand(const QModelIndex& index);
  void collapse(const QModelIndex& index);
  // The next and previous rows, or an invalid index past either end.
  QModelIndex indexBelow(const QModelIndex& index) const;
  QModelIndex indexAbove(const QModelIndex& index) const;

  void setModel(QAbstractItemModel* model) override;
  void reset() override;
  void doItemsLayout() override;
  QRect visualRect(const QModelIndex& index) const override;
  void scrollTo(const QModelIndex& index, ScrollHint hint = EnsureVisible) override;
  QModelIndex indexAt(const QPoint& point) const override;
  // Typing selects the next row whose text starts with what was typed (letters typed in
  // quick succession add up), looking at most kSearchRows rows on from the current one:
  // a key never makes a window of millions of rows wait for all of them.
  void keyboardSearch(const QString& text) override;
  static constexpr int kSearchRows = 4096;

 protected:
  QModelIndex moveCursor(CursorAction action, Qt::KeyboardModifiers modifiers) override;
  int horizontalOffset() const override;
  int verticalOffset() const override;
  bool isIndexHidden(const QModelIndex&) const override { return false; }
  void setSelection(const QRect& rect, QItemSelectionModel::SelectionFlags command) override;
  QRegion visualRegionForSelection(const QItemSelection& selection) const override;
  void updateGeometries() override;
  void scrollContentsBy(int dx, int dy) override;
  void rowsInserted(const QModelIndex& parent, int start, int end) override;
  void rowsAboutToBeRemoved(const QModelIndex& parent, int start, int end) override;
  void paintEvent(QPaintEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseDoubleClickEvent(QMouseEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
  void changeEvent(QEvent* event) override;

 private:
  // An expanded top-level item and the rows of its visible descendants.
  struct OpenItem {
    int row;
    int rows;
  };

  const std::vector<OpenItem>& OpenItems() const;
  void Changed();  // the rows under an expanded item, or their order, may have changed
  int VisibleDescendants(const QModelIndex& index) const;
  int RowCount() const;
  int RowHeight() const;
  int PageRows() const;
  int TopRow() const;
  int Indentation(const QModelIndex& index) const;  // of the item's text, in pixels
  QModelIndex IndexOfRow(int row) const;
  int RowOf(const QModelIndex& index) const;  // -1 while a parent is collapsed
  QModelIndex NthVisibleDescendant(const QModelIndex& parent, int n) const;
  void SetExpanded(const QModelIndex& index, bool expanded);
  bool HitsButton(const QModelIndex& index, QPoint point) const;
  void WidenToRows(int first, int last);
  void RowsRemoved(const QModelIndex& parent);

  bool m_rootIsDecorated = true;
  int m_indent = 20;
  std::vector<QPersistentModelIndex> m_expanded;
  mutable std::vector<OpenItem> m_open;  // by row
  mutable bool m_openValid = false;
  mutable int m_rowHeight = 0;  // found from the first item
  int m_contentWidth = 0;       // the widest row drawn so far
  QString m_typed;              // what keyboardSearch() looks for
  QElapsedTimer m_sinceTyped;
  // While the oldest rows leave: the row at the top once they have left.
  int m_topAfterRemoval = -1;
  QMetaObject::Connection m_rowsRemoved;
};
