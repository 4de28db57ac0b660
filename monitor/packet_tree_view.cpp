#include "monitor/packet_tree_view.h"

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
  if (m_sinceLayout.isValid() && m_sinceLayout.elapsed() < gap) {
    if (!m_deferred.isActive()) m_deferred.start(static_cast<int>(gap - m_sinceLayout.elapsed()));
    return;
  }
  m_deferred.stop();
  QElapsedTimer took;
  took.start();
  CTreeCtrl::doItemsLayout();
  m_layoutMs = took.elapsed();
  m_sinceLayout.start();
}
