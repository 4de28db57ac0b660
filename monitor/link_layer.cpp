#include "monitor/link_layer.h"

#include <pcap/dlt.h>

#include <cstddef>

namespace ws {
namespace {

constexpr std::uint16_t kEtherIpv4 = 0x0800;
constexpr std::uint16_t kEtherVlan = 0x8100;
constexpr std::uint16_t kEtherQinQ = 0x88A8;

std::uint16_t be16(const std::uint8_t* p) { return static_cast<std::uint16_t>(p[0] << 8 | p[1]); }

// Offset of the network-layer payload when the frame's protocol says IPv4; npos otherwise.
constexpr std::size_t npos = static_cast<std::size_t>(-1);

std::size_t ethernetOffset(std::span<const std::uint8_t> frame) {
  std::size_t offset = 12;
  while (offset + 2 <= frame.size()) {
    const std::uint16_t type = be16(&frame[offset]);
    if (type == kEtherIpv4) return offset + 2;
    if (type != kEtherVlan && type != kEtherQinQ) return npos;
    offset += 4;  // skip the tag, read the next type
  }
  return npos;
}

std::size_t payloadOffset(int linkType, std::span<const std::uint8_t> frame) {
  switch (linkType) {
    case DLT_EN10MB: return ethernetOffset(frame);
    case DLT_RAW:
    case DLT_IPV4: return 0;
    case DLT_LINUX_SLL:  // 16-byte cooked header, protocol at offset 14
      return frame.size() >= 16 && be16(&frame[14]) == kEtherIpv4 ? 16 : npos;
    case DLT_LINUX_SLL2:  // 20-byte cooked header, protocol at offset 0
      return frame.size() >= 20 && be16(&frame[0]) == kEtherIpv4 ? 20 : npos;
    case DLT_NULL:  // 4-byte address family, in the byte order of the host that wrote it
    case DLT_LOOP: {
      if (frame.size() < 4) return npos;
      const std::uint32_t family = std::uint32_t(be16(&frame[0])) << 16 | be16(&frame[2]);
      return family == 2 || family == 0x02000000 ? 4 : npos;
    }
    default: return npos;
  }
}

}  // namespace

std::span<const std::uint8_t> Ipv4Payload(int linkType, std::span<const std::uint8_t> frame) {
  const std::size_t offset = payloadOffset(linkType, frame);
  if (offset == npos || offset >= frame.size()) return {};
  auto datagram = frame.subspan(offset);
  if ((datagram[0] >> 4) != 4) return {};
  // Trim to the total length when it is plausible. A datagram handed to the capture
  // before segmentation offload may carry a total length of 0: keep it whole then.
  if (datagram.size() >= 4) {
    const std::size_t total = be16(&datagram[2]);
    if (total >= 20 && total < datagram.size()) datagram = datagram.first(total);
  }
  return datagram;
}

}  // namespace ws
