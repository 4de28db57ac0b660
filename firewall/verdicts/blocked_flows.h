#pragma once
// The record of recent blocked inbound flows: at most kMostBlocked entries, one per program,
// user, protocol and local port, each with how often and when it was blocked, who held the socket
// that would have received it, and where the last one came from. When full, the entry
// blocked longest ago leaves. Thread-safe; each Record costs the same however full it is.
//
// The service's bus side (and the window that enforces by itself) listens for the blocks to
// be signalled, and lists the rest; see NftablesEnforcer::Blocked().
#include <sys/types.h>

#include <array>
#include <chrono>
#include <cstdint>
#include <functional>
#include <list>
#include <mutex>
#include <string>
#include <unordered_map>
#include <vector>

#include "firewall/com/blocked_flow.h"
#include "firewall/verdicts/inbound_flow.h"

inline constexpr std::size_t kMostBlocked = 1000;

class BlockedFlows {
 public:
  using Clock = std::function<std::chrono::system_clock::time_point()>;
  // Called, outside the lock, with each block that is to be signalled.
  using Listener = std::function<void(const BlockedFlow&)>;

  explicit BlockedFlows(Clock clock = &std::chrono::system_clock::now);
  BlockedFlows(const BlockedFlows&) = delete;
  BlockedFlows& operator=(const BlockedFlows&) = delete;

  // Counts one blocked `flow` held by `holder`. Whether it is to be signalled: its entry is
  // new, or was last signalled a minute or more ago.
  bool Record(const InboundFlow& flow, const BlockedHolder& holder);
  // Every entry, the one blocked most recently first.
  std::vector<BlockedFlow> List() const;
  // Replaces the listener, once a call of the old one that runs has returned: from then on
  // blocks go to the new one only.
  void SetListener(Listener listener);

 private:
  struct Key {
    bool listening;
    std::string program;
    uid_t uid;
    std::uint8_t protocol;
    std::uint16_t localPort;
    bool operator==(const Key& other) const = default;
  };
  struct KeyHash {
    std::size_t operator()(const Key& key) const;
  };
  struct Entry {
    BlockedFlow flow;
    Key key;
    std::chrono::system_clock::time_point signalled;
  };

  const Clock m_clock;
  // Held while the listener is called, not while the record is: a slow listener holds up
  // only the reporters that signal.
  std::mutex m_listenerMutex;
  Listener m_listener;
  mutable std::mutex m_mutex;  // guards what follows
  std::list<Entry> m_entries;  // the one blocked most recently first
  std::unordered_map<Key, std::list<Entry>::iterator, KeyHash> m_index;
};
