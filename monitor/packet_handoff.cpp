#include "monitor/packet_handoff.h"

#include "monitor/packet_tree_model.h"

#include <QThread>

#include <algorithm>
#include <bit>

// Two places need each side to see the other's last write, with no lock on the path of a
// record: the writer publishes records then looks whether a wake-up is pending, while the
// reader clears the pending mark then looks how far the queue goes; and the reader frees
// room then looks whether the writer waits, while the writer says it waits then looks for
// room. Each pair is sequentially consistent, so at least one side of it sees the other:
// no record is left without a wake-up, and no wait without a notification.

PacketHandoff::PacketHandoff(PacketTreeModel& model, std::size_t capacity, QObject* parent)
    : QObject(parent),
      m_model(model),
      m_mask(std::bit_ceil(std::max<std::size_t>(capacity, 1)) - 1),
      m_ring(std::make_unique_for_overwrite<PacketRecord[]>(m_mask + 1)) {}

PacketHandoff::~PacketHandoff() = default;

bool PacketHandoff::Deliver(const PacketRecord& record) {
  if (QThread::currentThread() == thread()) {
    if (m_cancelled.load()) return false;
    Drain();
    m_model.Append(record);
    return true;
  }
  if (m_cancelled.load(std::memory_order_acquire)) return false;
  const std::uint64_t tail = m_tail.load(std::memory_order_relaxed);
  if (tail - m_headSeen > m_mask) {
    m_headSeen = m_head.load(std::memory_order_acquire);
    if (tail - m_headSeen > m_mask && !WaitForRoom(tail)) return false;
  }
  m_ring[tail & m_mask] = record;
  m_tail.store(tail + 1, std::memory_order_release);
  return true;
}

void PacketHandoff::EndOfBurst() {
  std::atomic_thread_fence(std::memory_order_seq_cst);
  if (!m_wakePending.load() && !m_wakePending.exchange(true))
    QMetaObject::invokeMethod(this, &PacketHandoff::Drain, Qt::QueuedConnection);
}

bool PacketHandoff::WaitForRoom(std::uint64_t tail) {
  // The GUI thread must come for what fills the queue.
  EndOfBurst();
  std::unique_lock lock(m_mutex);
  m_writerWaits.store(true);
  m_room.wait(lock, [&] {
    m_headSeen = m_head.load();
    return tail - m_headSeen <= m_mask || m_cancelled.load();
  });
  m_writerWaits.store(false, std::memory_order_relaxed);
  return !m_cancelled.load();
}

void PacketHandoff::Drain() {
  m_wakePending.store(false);
  if (m_cancelled.load()) return;
  std::atomic_thread_fence(std::memory_order_seq_cst);
  const std::uint64_t head = m_head.load(std::memory_order_relaxed);
  const std::uint64_t tail = m_tail.load(std::memory_order_acquire);
  if (head == tail) return;
  for (std::uint64_t n = head; n != tail; ++n) m_model.Queue(m_ring[n & m_mask]);
  m_head.store(tail);
  if (m_writerWaits.load()) {
    // Taking the lock first: the writer is then either still before its look at m_head,
    // or waiting.
    std::lock_guard lock(m_mutex);
    m_room.notify_one();
  }
  m_model.ShowQueued();
}

void PacketHandoff::CancelDelivery() {
  {
    std::lock_guard lock(m_mutex);
    m_cancelled.store(true);
  }
  m_room.notify_all();
}
