#pragma once
// The record of recent blocked inbound flows: at most kMostBlocked entries, one per program,
// protocol and local port, each with how often and when it was blocked, who held the socket
// that would have received it, and where the last one came from. When full, the entry
// blocked longest ago leaves. Thread-safe; each Record costs the same however full it is.
//
// The bus side is expected to hold the service's one BlockedFlows (see
// NftablesEnforcer::Blocked()), emit a signal for each Record that returns true (the
// reporters call Record; a Listener set once forwards those to the bus thread), and answer a
// list method from List(), keeping to a caller's own uid where it may not see every block.
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

#include "firewall/verdicts/inbound_flow.h"

inline constexpr std::size_t kMostBlocked = 1000;

// Who held the socket that would have received a blocked flow.
struct BlockedHolder {
  bool listening = false;  // a socket would have received it; when not, the rest is empty
  std::string program;     // the holder's executable; "" where nothing listened or unknown
  pid_t pid = 0;           // 0 where unknown
  uid_t uid = 0;           // the holder's, else the socket's owner
  bool operator==(const BlockedHolder& other) const = default;
};

struct BlockedFlow {
  BlockedHolder holder;
  std::uint8_t protocol = 0;  // IPPROTO_TCP or IPPROTO_UDP
  std::uint16_t localPort = 0;
  std::uint64_t count = 0;
  std::chrono::system_clock::time_point first;
  std::chrono::system_clock::time_point last;
  // The last one's remote end: AF_INET or AF_INET6, the address in network order (an IPv4
  // one in the first four bytes), the port in host order.
  int family = 0;
  std::array<std::uint8_t, 16> remoteAddress{};
  std::uint16_t remotePort = 0;
};

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
  // Set once, before anything reports.
  void SetListener(Listener listener) { m_listener = std::move(listener); }

 private:
  struct Key {
    bool listening;
    std::string program;
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
  Listener m_listener;
  mutable std::mutex m_mutex;  // guards what follows
  std::list<Entry> m_entries;  // the one blocked most recently first
  std::unordered_map<Key, std::list<Entry>::iterator, KeyHash> m_index;
};
