#include "monitor/packet_handoff.h"

#include "monitor/packet_tree_model.h"

#include <QThread>

#include <chrono>

namespace {

using Clock = std::chrono::steady_clock;
constexpr auto kSpin = std::chrono::microseconds(50);
constexpr auto kServeSlice = std::chrono::milliseconds(5);

// Spins until `ready` or for `limit`; true when ready.
template <typename Ready>
bool SpinFor(Clock::duration limit, Ready ready) {
  const auto until = Clock::now() + limit;
  do {
    for (int i = 0; i < 64; ++i)
      if (ready()) return true;
  } while (Clock::now() < until);
  return ready();
}

}  // namespace

PacketHandoff::PacketHandoff(PacketTreeModel& model, QObject* parent) : QObject(parent), m_model(model) {}

bool PacketHandoff::Deliver(const PacketRecord& record) {
  if (QThread::currentThread() == thread()) {
    if (m_cancelled) return false;
    m_model.Append(record);
    return true;
  }
  {
    std::lock_guard lock(m_mutex);
    if (m_cancelled) return false;
    m_pending = &record;
    m_done.store(false, std::memory_order_relaxed);
    m_deliveries.fetch_add(1, std::memory_order_release);
    if (!m_serving) QMetaObject::invokeMethod(this, &PacketHandoff::Serve, Qt::QueuedConnection);
  }
  SpinFor(kSpin, [&] { return m_done.load(std::memory_order_acquire); });
  std::unique_lock lock(m_mutex);
  m_served.wait(lock, [&] { return m_pending == nullptr || m_cancelled; });
  // Cancelled before it was served: nothing may touch the record once we return.
  const bool added = m_pending == nullptr;
  m_pending = nullptr;
  return added;
}

void PacketHandoff::ServePending() {
  if (m_pending == nullptr) return;
  m_model.Queue(*m_pending);
  m_pending = nullptr;
  m_done.store(true, std::memory_order_release);
  m_served.notify_all();
}

void PacketHandoff::Serve() {
  const auto sliceEnd = Clock::now() + kServeSlice;
  std::unique_lock lock(m_mutex);
  m_serving = true;
  for (;;) {
    ServePending();
    if (m_cancelled || Clock::now() >= sliceEnd) break;
    // The capture thread is decoding its next segment; wait for it a little.
    const std::uint64_t seen = m_deliveries.load(std::memory_order_acquire);
    lock.unlock();
    const bool more = SpinFor(kSpin, [&] { return m_deliveries.load(std::memory_order_acquire) != seen; });
    lock.lock();
    if (!more) break;
  }
  // A record handed over while we were leaving was not posted: serve it now.
  m_serving = false;
  ServePending();
  // The views learn of the whole slice's segments at once, before the event loop paints.
  m_model.ShowQueued();
}

void PacketHandoff::CancelDelivery() {
  std::lock_guard lock(m_mutex);
  m_cancelled = true;
  m_served.notify_all();
}
