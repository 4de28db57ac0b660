#include "net/link_layer.h"

#include "net/byte_reader.h"

#include <pcap/dlt.h>

#include <cstddef>
#include <optional>

namespace net {
namespace {

constexpr std::uint16_t kEtherIpv4 = 0x0800;
constexpr std::uint16_t kEtherVlan = 0x8100;
constexpr std::uint16_t kEtherQinQ = 0x88A8;

// Offset of the network-layer payload when the frame's protocol says IPv4.
std::optional<std::size_t> EthernetOffset(ByteReader& frame) {
  std::size_t offset = 12;
  while (frame.Has(offset, 2)) {
    const std::uint16_t type = frame.U16(offset);
    if (type == kEtherIpv4) return offset + 2;
    if (type != kEtherVlan && type != kEtherQinQ) return std::nullopt;
    offset += 4;  // skip the tag, read the next type
  }
  return std::nullopt;
}

// A fixed-length cooked header whose protocol field at `typeAt` must say IPv4.
std::optional<std::size_t> CookedOffset(ByteReader& frame, std::size_t headerLength, std::size_t typeAt) {
  if (!frame.Has(0, headerLength) || frame.U16(typeAt) != kEtherIpv4) return std::nullopt;
  return headerLength;
}

std::optional<std::size_t> PayloadOffset(int linkType, ByteReader& frame) {
  switch (linkType) {
    case DLT_EN10MB: return EthernetOffset(frame);
    case DLT_RAW:
    case DLT_IPV4: return 0;
    case DLT_LINUX_SLL: return CookedOffset(frame, 16, 14);
    case DLT_LINUX_SLL2: return CookedOffset(frame, 20, 0);
    case DLT_NULL:  // 4-byte address family, in the byte order of the host that wrote it
    case DLT_LOOP: {
      if (!frame.Has(0, 4)) return std::nullopt;
      const std::uint32_t family = frame.U32(0);
      if (family == 2 || family == 0x02000000) return 4;
      return std::nullopt;
    }
    default: return std::nullopt;
  }
}

}  // namespace

std::span<const std::uint8_t> Ipv4Payload(int linkType, std::span<const std::uint8_t> frame) {
  ByteReader bytes(frame);
  const std::optional<std::size_t> offset = PayloadOffset(linkType, bytes);
  if (!offset || *offset >= frame.size()) return {};
  auto datagram = frame.subspan(*offset);
  ByteReader ip(datagram);
  if (ip.U8(0) >> 4 != 4) return {};
  // Trim to the total length when it is plausible. A datagram handed to the capture
  // before segmentation offload may carry a total length of 0: keep it whole then.
  if (ip.Has(2, 2)) {
    const std::size_t total = ip.U16(2);
    if (total >= 20 && total < datagram.size()) datagram = datagram.first(total);
  }
  return datagram;
}

}  // namespace net
