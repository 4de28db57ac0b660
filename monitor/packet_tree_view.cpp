#include "monitor/packet_tree_view.h"

#include <QScrollBar>

#include <algorithm>

namespace {

constexpr qint64 kLayoutGapMs = 100;

}  // namespace

PacketTreeView::PacketTreeView() {
  m_deferred.setSingleShot(true);
  QObject::connect(&m_deferred, &QTimer::timeout, this, &PacketTreeView::doItemsLayout);
}

void PacketTreeView::doItemsLayout() {
  const qint64 gap = std::max(kLayoutGapMs, 4 * m_layoutMs);
  if (!m_rowsLeft && m_sinceLayout.isValid() && m_sinceLayout.elapsed() < gap) {
    if (!m_deferred.isActive()) m_deferred.start(static_cast<int>(gap - m_sinceLayout.elapsed()));
    return;
  }
  m_deferred.stop();
  QElapsedTimer took;
  took.start();
  CTreeCtrl::doItemsLayout();
  m_layoutMs = took.elapsed();
  m_sinceLayout.start();
  if (!m_rowsLeft) return;
  m_rowsLeft = false;
  if (m_topItem.isValid()) {
    // Only the rows move; the horizontal position is the user's.
    const int x = horizontalScrollBar()->value();
    scrollTo(m_topItem, PositionAtTop);
    horizontalScrollBar()->setValue(x);
  } else {
    scrollToTop();
  }
  m_topItem = QPersistentModelIndex();
}

void PacketTreeView::rowsAboutToBeRemoved(const QModelIndex& parent, int start, int end) {
  // Removals before the next layout leave the same item at the top, if it stays.
  if (!m_rowsLeft) m_topItem = indexAt(QPoint(0, 0));
  CTreeCtrl::rowsAboutToBeRemoved(parent, start, end);
  m_rowsLeft = true;
}
