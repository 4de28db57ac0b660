#include "firewall/verdicts/blocked_flows.h"

#include <functional>

namespace {

constexpr auto kSignalEvery = std::chrono::minutes(1);

}  // namespace

std::size_t BlockedFlows::KeyHash::operator()(const Key& key) const {
  const std::size_t numbers =
      std::size_t{key.uid} << 25 | std::size_t{key.listening} << 24 | std::size_t{key.protocol} << 16 | key.localPort;
  return std::hash<std::string>()(key.program) ^ std::hash<std::size_t>()(numbers);
}

BlockedFlows::BlockedFlows(Clock clock) : m_clock(std::move(clock)) {}

bool BlockedFlows::Record(const InboundFlow& flow, const BlockedHolder& holder) {
  const auto now = m_clock();
  BlockedFlow signalled;
  bool signal = false;
  {
    const std::lock_guard lock(m_mutex);
    Key key{holder.listening, holder.program, holder.uid, flow.protocol, flow.localPort};
    const auto known = m_index.find(key);
    if (known != m_index.end()) {
      m_entries.splice(m_entries.begin(), m_entries, known->second);
    } else {
      if (m_entries.size() >= kMostBlocked) {
        m_index.erase(m_entries.back().key);
        m_entries.pop_back();
      }
      BlockedFlow fresh;
      fresh.protocol = flow.protocol;
      fresh.localPort = flow.localPort;
      fresh.first = now;
      m_entries.push_front({std::move(fresh), key, {}});
      m_index.emplace(std::move(key), m_entries.begin());
      signal = true;
    }
    Entry& entry = m_entries.front();
    BlockedFlow& blocked = entry.flow;
    blocked.holder = holder;
    ++blocked.count;
    blocked.last = now;
    blocked.family = flow.family;
    blocked.remoteAddress = flow.remoteAddress;
    blocked.remotePort = flow.remotePort;
    // A clock set back counts as a minute gone: no entry stays silent until it catches up.
    signal = signal || now - entry.signalled >= kSignalEvery || now < entry.signalled;
    if (signal) {
      entry.signalled = now;
      signalled = blocked;
    }
  }
  if (signal) {
    const std::lock_guard lock(m_listenerMutex);
    if (m_listener) m_listener(signalled);
  }
  return signal;
}

void BlockedFlows::SetListener(Listener listener) {
  const std::lock_guard lock(m_listenerMutex);
  m_listener = std::move(listener);
}

std::vector<BlockedFlow> BlockedFlows::List() const {
  const std::lock_guard lock(m_mutex);
  std::vector<BlockedFlow> list;
  list.reserve(m_entries.size());
  for (const Entry& entry : m_entries) list.push_back(entry.flow);
  return list;
}
