#pragma once

#include "framework/controls.h"

#include <QElapsedTimer>
#include <QTimer>

// The traffic tree's view. A tree view lays out all its top-level items again after each
// one is appended, which makes a growing capture quadratic; here a layout runs at most
// every 100 ms (or four times as long as the last one took), and the rows that arrived
// meanwhile appear together. Items are only ever appended, so what the view shows between
// two layouts stays valid.
class PacketTreeView : public CTreeCtrl {
 public:
  PacketTreeView();
  void doItemsLayout() override;

 private:
  QElapsedTimer m_sinceLayout;
  qint64 m_layoutMs = 0;
  QTimer m_deferred;
};
