#include "firewall/verdicts/inbound_flow.h"

#include <netinet/in.h>
#include <sys/socket.h>

#include <algorithm>

namespace {

// Every read of the packet goes through here: nothing past its end is touched.
class Reader {
 public:
  explicit Reader(std::span<const std::uint8_t> bytes) : m_bytes(bytes) {}
  bool Has(std::size_t at, std::size_t count) const { return at <= m_bytes.size() && count <= m_bytes.size() - at; }
  std::uint8_t Byte(std::size_t at) const { return m_bytes[at]; }
  std::uint16_t Word(std::size_t at) const { return static_cast<std::uint16_t>(m_bytes[at] << 8 | m_bytes[at + 1]); }
  void Copy(std::size_t at, std::size_t count, std::uint8_t* to) const {
    std::copy_n(m_bytes.begin() + static_cast<std::ptrdiff_t>(at), count, to);
  }

 private:
  std::span<const std::uint8_t> m_bytes;
};

// Where the transport header of an IPv6 packet starts, past its extension headers, and
// its protocol; nothing for a later fragment or a header that does not fit.
std::optional<std::size_t> Ipv6Transport(const Reader& packet, std::uint8_t* protocol) {
  constexpr std::size_t kFixedHeader = 40;
  constexpr int kMostExtensions = 8;
  std::uint8_t next = packet.Byte(6);
  std::size_t at = kFixedHeader;
  for (int i = 0; i < kMostExtensions; ++i) {
    if (next == IPPROTO_TCP || next == IPPROTO_UDP) {
      *protocol = next;
      return at;
    }
    if (!packet.Has(at, 8)) return std::nullopt;
    std::size_t length;
    switch (next) {
      case IPPROTO_HOPOPTS:
      case IPPROTO_ROUTING:
      case IPPROTO_DSTOPTS: length = (packet.Byte(at + 1) + 1u) * 8; break;
      case IPPROTO_AH: length = (packet.Byte(at + 1) + 2u) * 4; break;
      case IPPROTO_FRAGMENT:
        if ((packet.Word(at + 2) & 0xFFF8) != 0) return std::nullopt;
        length = 8;
        break;
      default: return std::nullopt;
    }
    next = packet.Byte(at);
    at += length;
  }
  return std::nullopt;
}

}  // namespace

std::optional<InboundFlow> ReadInboundFlow(std::span<const std::uint8_t> bytes) {
  const Reader packet(bytes);
  if (!packet.Has(0, 1)) return std::nullopt;
  InboundFlow flow;
  std::size_t transport;
  switch (packet.Byte(0) >> 4) {
    case 4: {
      const std::size_t headerLength = (packet.Byte(0) & 0x0Fu) * 4;
      if (headerLength < 20 || !packet.Has(0, headerLength)) return std::nullopt;
      if ((packet.Word(6) & 0x1FFF) != 0) return std::nullopt;  // a later fragment: no ports
      flow.family = AF_INET;
      flow.protocol = packet.Byte(9);
      packet.Copy(12, 4, flow.remoteAddress.data());
      packet.Copy(16, 4, flow.localAddress.data());
      transport = headerLength;
      break;
    }
    case 6: {
      if (!packet.Has(0, 40)) return std::nullopt;
      const std::optional<std::size_t> at = Ipv6Transport(packet, &flow.protocol);
      if (!at) return std::nullopt;
      flow.family = AF_INET6;
      packet.Copy(8, 16, flow.remoteAddress.data());
      packet.Copy(24, 16, flow.localAddress.data());
      transport = *at;
      break;
    }
    default: return std::nullopt;
  }
  if ((flow.protocol != IPPROTO_TCP && flow.protocol != IPPROTO_UDP) || !packet.Has(transport, 4)) return std::nullopt;
  flow.remotePort = packet.Word(transport);
  flow.localPort = packet.Word(transport + 2);
  return flow;
}
