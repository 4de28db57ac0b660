#include "firewall/verdicts/socket_owner.h"

#include <linux/inet_diag.h>
#include <linux/netlink.h>
#include <linux/rtnetlink.h>
#include <linux/sock_diag.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>

namespace {

constexpr std::size_t kReplyBytes = 32 << 10;

// An IPv4 address as an IPv6 socket bound to it shows it: ::ffff:a.b.c.d.
std::array<std::uint8_t, 16> Mapped(const std::array<std::uint8_t, 16>& ipv4) {
  std::array<std::uint8_t, 16> mapped{};
  mapped[10] = mapped[11] = 0xFF;
  std::copy_n(ipv4.begin(), 4, mapped.begin() + 12);
  return mapped;
}

// Whether an IPv6 socket takes IPv6 alone, from the attributes after its message.
bool Ipv6Only(const nlmsghdr* header) {
  const auto* message = static_cast<const inet_diag_msg*>(NLMSG_DATA(header));
  int left = static_cast<int>(header->nlmsg_len - NLMSG_LENGTH(sizeof *message));
  for (auto* attribute = reinterpret_cast<const rtattr*>(message + 1); RTA_OK(attribute, left);
       attribute = RTA_NEXT(attribute, left))
    if (attribute->rta_type == INET_DIAG_SKV6ONLY && RTA_PAYLOAD(attribute) >= 1)
      return *static_cast<const std::uint8_t*>(RTA_DATA(attribute)) != 0;
  return false;
}

}  // namespace

SocketOwner::SocketOwner()
    : m_diag(socket(AF_NETLINK, SOCK_DGRAM | SOCK_CLOEXEC, NETLINK_SOCK_DIAG)), m_reply(kReplyBytes) {}

SocketOwner::~SocketOwner() {
  if (m_diag >= 0) close(m_diag);
}

std::optional<std::vector<ReceivingSocket>> SocketOwner::ReceivingSockets(const InboundFlow& flow,
                                                                          std::uint32_t interface) {
  std::vector<ReceivingSocket> exact, wildcard;
  // IPv4 reaches IPv6 sockets too, unless they take IPv6 alone. The kernel lists TCP
  // listeners of both families at once.
  const bool ipv4 = flow.family == AF_INET;
  for (const int family : {AF_UNSPEC, AF_INET, AF_INET6}) {
    if ((family == AF_UNSPEC) != (flow.protocol == IPPROTO_TCP) || (family == AF_INET && !ipv4)) continue;
    const std::vector<Bound>* sockets = Sockets(family, flow);
    if (!sockets) return std::nullopt;
    for (const Bound& bound : *sockets) {
      const bool mapped = ipv4 && bound.family == AF_INET6;
      if (!ipv4 && bound.family == AF_INET) continue;
      if (bound.interface != 0 && interface != 0 && bound.interface != interface) continue;
      if (mapped && bound.ipv6Only) continue;
      const std::array<std::uint8_t, 16> local = mapped ? Mapped(flow.localAddress) : flow.localAddress;
      const std::array<std::uint8_t, 16> remote = mapped ? Mapped(flow.remoteAddress) : flow.remoteAddress;
      // A connected UDP socket receives from its peer alone.
      if (bound.peerPort != 0 && (bound.peerPort != flow.remotePort || bound.peer != remote)) continue;
      if (bound.address == local)
        exact.push_back(bound.socket);
      else if (bound.address == std::array<std::uint8_t, 16>{})
        wildcard.push_back(bound.socket);
    }
  }
  return exact.empty() ? wildcard : exact;
}

const std::vector<SocketOwner::Bound>* SocketOwner::Sockets(int family, const InboundFlow& flow) {
  const Port port{family, flow.protocol, flow.localPort};
  if (const auto known = m_ports.find(port); known != m_ports.end()) return &known->second;
  std::vector<Bound> sockets;
  if (!Dump(port, &sockets)) return nullptr;
  return &m_ports.emplace(port, std::move(sockets)).first->second;
}

bool SocketOwner::Dump(const Port& port, std::vector<Bound>* sockets) {
  if (m_diag < 0) return false;
  const auto [family, protocol, number] = port;
  // A SYN opens a connection on a listener whatever else shares its four parts; a datagram
  // goes to a socket connected to its sender, or to one that is not connected. The kernel
  // answers for the sockets of this port alone, but walks all of them: TCP is asked in the
  // older form, which walks the listeners of both families at once.
  const std::uint32_t states = protocol == IPPROTO_TCP ? 1u << TCP_LISTEN : 1u << TCP_CLOSE | 1u << TCP_ESTABLISHED;
  struct {
    nlmsghdr header;
    union {
      inet_diag_req_v2 body;
      inet_diag_req both;  // AF_UNSPEC: TCP alone
    };
  } request{};
  inet_diag_sockid& id = family == AF_UNSPEC ? request.both.id : request.body.id;
  request.header.nlmsg_len = NLMSG_LENGTH(family == AF_UNSPEC ? sizeof request.both : sizeof request.body);
  request.header.nlmsg_type = family == AF_UNSPEC ? TCPDIAG_GETSOCK : SOCK_DIAG_BY_FAMILY;
  request.header.nlmsg_flags = NLM_F_REQUEST | NLM_F_DUMP;
  request.header.nlmsg_seq = ++m_sequence;
  if (family == AF_UNSPEC) {
    request.both.idiag_states = states;
  } else {
    request.body.sdiag_family = static_cast<std::uint8_t>(family);
    request.body.sdiag_protocol = protocol;
    request.body.idiag_states = states;
  }
  id.idiag_sport = htons(number);
  id.idiag_cookie[0] = id.idiag_cookie[1] = INET_DIAG_NOCOOKIE;
  if (send(m_diag, &request, request.header.nlmsg_len, 0) != static_cast<ssize_t>(request.header.nlmsg_len))
    return false;

  for (;;) {
    const ssize_t got = recv(m_diag, m_reply.data(), m_reply.size(), 0);
    if (got < 0) return false;
    auto left = static_cast<unsigned>(got);
    for (auto* header = reinterpret_cast<const nlmsghdr*>(m_reply.data()); NLMSG_OK(header, left);
         header = NLMSG_NEXT(header, left)) {
      if (header->nlmsg_seq != m_sequence) continue;  // an older reply left behind
      if (header->nlmsg_type == NLMSG_DONE) return true;
      if (header->nlmsg_type != request.header.nlmsg_type || header->nlmsg_len < NLMSG_LENGTH(sizeof(inet_diag_msg)))
        return false;
      const auto* found = static_cast<const inet_diag_msg*>(NLMSG_DATA(header));
      const inet_diag_sockid& id = found->id;
      if (found->idiag_inode == 0 || ntohs(id.idiag_sport) != number) continue;
      if (found->idiag_family != AF_INET && found->idiag_family != AF_INET6) continue;
      Bound bound;
      bound.family = found->idiag_family;
      const std::size_t size = bound.family == AF_INET6 ? 16 : 4;
      std::memcpy(bound.address.data(), id.idiag_src, size);
      std::memcpy(bound.peer.data(), id.idiag_dst, size);
      bound.peerPort = ntohs(id.idiag_dport);
      bound.interface = id.idiag_if;
      bound.ipv6Only = bound.family == AF_INET6 && Ipv6Only(header);
      bound.socket = {found->idiag_inode, found->idiag_uid};
      sockets->push_back(bound);
    }
  }
}
