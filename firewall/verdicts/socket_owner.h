#pragma once
// The local sockets that may receive an inbound flow, asked of the kernel through
// NETLINK_SOCK_DIAG: every socket bound to the flow's local port that the kernel could pick.
// Sockets bound to the exact local address come before those on the wildcard address, as in
// the kernel's own lookup; among those of the address chosen the kernel may pick any (a
// SO_REUSEPORT group, whose BPF program picks as it likes), so all of them are returned.
#include <sys/types.h>

#include <array>
#include <cstdint>
#include <map>
#include <optional>
#include <tuple>
#include <vector>

#include "firewall/verdicts/inbound_flow.h"

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
  // none would; nothing when the kernel could not be asked. The kernel is asked once per
  // port until Forget(): flows that arrived together share the answer.
  std::optional<std::vector<ReceivingSocket>> ReceivingSockets(const InboundFlow& flow, std::uint32_t interface = 0);
  void Forget() { m_ports.clear(); }

 private:
  // A socket on a port, as the kernel lists it.
  struct Bound {
    int family = 0;
    std::array<std::uint8_t, 16> address{};  // local; an IPv4 one takes the first four bytes
    std::array<std::uint8_t, 16> peer{};     // remote, where it is connected
    std::uint16_t peerPort = 0;
    std::uint32_t interface = 0;
    bool ipv6Only = false;
    ReceivingSocket socket;
  };
  using Port = std::tuple<int, std::uint8_t, std::uint16_t>;  // family, protocol, number

  // The sockets of `family` (AF_UNSPEC: both, for TCP) on the flow's protocol and local port.
  const std::vector<Bound>* Sockets(int family, const InboundFlow& flow);
  bool Dump(const Port& port, std::vector<Bound>* sockets);

  int m_diag = -1;
  std::uint32_t m_sequence = 0;
  std::vector<char> m_reply;
  std::map<Port, std::vector<Bound>> m_ports;
};
