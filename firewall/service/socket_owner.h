#pragma once
// The local sockets that may receive an inbound flow, asked of the kernel through
// NETLINK_SOCK_DIAG: every socket bound to the flow's local port that the kernel could pick.
// Sockets bound to the exact local address come before those on the wildcard address, as in
// the kernel's own lookup; among those of the address chosen the kernel may pick any (a
// SO_REUSEPORT group, whose BPF program picks as it likes), so all of them are returned.
#include <sys/types.h>

#include <cstdint>
#include <optional>
#include <vector>

#include "firewall/service/inbound_flow.h"

// A socket, and the user that made it.
struct ReceivingSocket {
  std::uint64_t inode = 0;
  uid_t owner = 0;
  bool operator==(const ReceivingSocket& other) const = default;
};

class SocketOwner {
 public:
  // Asks the network namespace of the calling thread from then on.
  SocketOwner();
  ~SocketOwner();
  SocketOwner(const SocketOwner&) = delete;
  SocketOwner& operator=(const SocketOwner&) = delete;
  bool Ready() const { return m_diag >= 0; }

  // The sockets that may receive `flow` arriving on interface `interface` (0: any): TCP
  // listeners, or UDP sockets unconnected or connected to the flow's remote end. Empty when
  // none would; nothing when the kernel could not be asked.
  std::optional<std::vector<ReceivingSocket>> ReceivingSockets(const InboundFlow& flow, std::uint32_t interface = 0);

 private:
  // Adds the sockets of `family` on the flow's port to `exact` and `wildcard`.
  bool Dump(int family, const InboundFlow& flow, std::uint32_t interface, std::vector<ReceivingSocket>* exact,
            std::vector<ReceivingSocket>* wildcard);

  int m_diag = -1;
  std::uint32_t m_sequence = 0;
  std::vector<char> m_reply;
};
