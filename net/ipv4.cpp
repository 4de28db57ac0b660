#include "net/ipv4.h"

#include "net/byte_reader.h"

#include <cstring>

namespace net {
namespace {

std::uint32_t NetworkOrder(std::span<const std::uint8_t> four) {
  std::uint32_t value = 0;
  std::memcpy(&value, four.data(), four.size());
  return value;
}

}  // namespace

std::optional<Ipv4Header> ParseIpv4(std::span<const std::uint8_t> datagram) {
  ByteReader bytes(datagram);
  if (!bytes.Has(0, Ipv4Header::kFixedLength)) return std::nullopt;
  const std::uint8_t versionAndLength = bytes.U8(0);
  const std::uint32_t headerLength = (versionAndLength & 0x0Fu) * 4;
  if (versionAndLength >> 4 != 4 || headerLength < Ipv4Header::kFixedLength) return std::nullopt;
  const Ipv4Header header{.fragmentOffset = static_cast<std::uint16_t>(bytes.U16(6) & 0x1FFF),
                          .protocol = bytes.U8(9),
                          .sourceAddress = NetworkOrder(bytes.Bytes(12, 4)),
                          .destinationAddress = NetworkOrder(bytes.Bytes(16, 4)),
                          .payload = bytes.Rest(headerLength)};
  if (!bytes.ok()) return std::nullopt;
  return header;
}

}  // namespace net
