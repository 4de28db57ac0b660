#pragma once

#include "framework/controls.h"

#include <QElapsedTimer>
#include <QPersistentModelIndex>
#include <QTimer>

// The traffic tree's view. A tree view lays out all its top-level items again after each
// one is appended, which makes a growing capture quadratic; here a layout runs at most
// every 100 ms (or four times as long as the last one took), and the rows that arrived
// meanwhile appear together: what the view shows between two layouts stays valid while
// items are only appended.
//
// When the oldest items leave the top, the view forgets its layout, and its scroll
// position, a row number, would now show other rows: then the layout runs at once, and
// the item that was at the top stays there (or the first item comes to the top when the
// items in view have left).
class PacketTreeView : public CTreeCtrl {
 public:
  PacketTreeView();
  void doItemsLayout() override;

 protected:
  void rowsAboutToBeRemoved(const QModelIndex& parent, int start, int end) override;

 private:
  QElapsedTimer m_sinceLayout;
  qint64 m_layoutMs = 0;
  QTimer m_deferred;
  bool m_rowsLeft = false;  // since the last layout
  QPersistentModelIndex m_topItem;
};
