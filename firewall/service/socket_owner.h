#pragma once
// Which processes hold the local socket that would receive an inbound flow. The socket is
// the kernel's own choice, asked through NETLINK_SOCK_DIAG: the socket bound to the exact
// local address before one bound to the wildcard address, a TCP listener or a bound UDP
// socket, IPv4 and IPv6. Its holders are found in /proc/PID/fd and remembered by the
// socket's inode; each remembered holder is checked with one readlink before it counts.
#include <sys/types.h>

#include <chrono>
#include <cstdint>
#include <span>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

#include "firewall/service/inbound_flow.h"

class SocketOwner {
 public:
  // Asks the network namespace of the calling thread from then on.
  SocketOwner();
  ~SocketOwner();
  SocketOwner(const SocketOwner&) = delete;
  SocketOwner& operator=(const SocketOwner&) = delete;
  bool Ready() const { return m_diag >= 0; }

  // The inode of the socket that would receive `flow` arriving on interface `interface`
  // (0: any); 0 when no socket would.
  std::uint64_t ReceivingSocket(const InboundFlow& flow, std::uint32_t interface = 0);

  // Whether `accepts` one of the processes that hold socket `inode`, as last found and
  // checked to hold it still, one at a time until one is accepted; they are looked for in
  // /proc when none is known. (A server of many processes shares its listener with all.)
  template <class Accepts>
  bool AnyHolder(std::uint64_t inode, Accepts accepts) {
    for (const auto& [pid, fd] : Remembered(inode))
      if (Holds(pid, fd, inode) && accepts(pid)) return true;
    return false;
  }
  // Looks for the holders of `inode` again, unless that was done less than a second ago
  // (a socket whose holders do not count, or that no process holds, must not cost a scan
  // of /proc per packet). Whether it looked.
  bool LookAgain(std::uint64_t inode);

 private:
  struct Holding {
    std::vector<std::pair<pid_t, int>> descriptors;  // one per holding process
    std::chrono::steady_clock::time_point lookedAt;
  };
  const std::vector<std::pair<pid_t, int>>& Remembered(std::uint64_t inode);
  Holding& Scan(std::uint64_t inode);
  static bool Holds(pid_t pid, int fd, std::uint64_t inode);
  std::uint64_t Query(const InboundFlow& flow, std::uint32_t interface, bool withRemote, std::uint8_t* state);

  int m_diag = -1;
  std::uint32_t m_sequence = 0;
  std::unordered_map<std::uint64_t, Holding> m_holdings;
};

// The path of the executable of process `pid`, as the kernel names it, in `buffer`; empty
// when it cannot be read (the process ended, no right to look).
std::string_view ExecutablePath(pid_t pid, std::span<char> buffer);
