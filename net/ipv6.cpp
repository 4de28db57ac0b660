#include "net/ipv6.h"

#include "net/byte_reader.h"

#include <algorithm>

namespace net {
namespace {

constexpr std::uint8_t kHopByHop = 0, kRouting = 43, kFragment = 44, kAuthentication = 51, kDestinationOptions = 60;

std::array<std::uint8_t, 16> Address(std::span<const std::uint8_t> bytes) {
  std::array<std::uint8_t, 16> address{};
  std::copy(bytes.begin(), bytes.end(), address.begin());
  return address;
}

bool IsExtensionHeader(std::uint8_t type) {
  return type == kHopByHop || type == kRouting || type == kDestinationOptions || type == kAuthentication ||
         type == kFragment;
}

// The length in bytes of the extension header `type` whose length byte is `lengthField`.
std::size_t ExtensionLength(std::uint8_t type, std::uint8_t lengthField) {
  switch (type) {
    case kAuthentication: return (lengthField + 2u) * 4;
    case kFragment: return 8;
    default: return (lengthField + 1u) * 8;
  }
}

}  // namespace

std::optional<Ipv6Header> ParseIpv6(std::span<const std::uint8_t> packet) {
  ByteReader bytes(packet);
  if (!bytes.Has(0, Ipv6Header::kFixedLength) || bytes.U8(0) >> 4 != 6) return std::nullopt;
  Ipv6Header header{.sourceAddress = Address(bytes.Bytes(8, 16)),
                    .destinationAddress = Address(bytes.Bytes(24, 16)),
                    .protocol = bytes.U8(6),
                    .payload = {},
                    .fragmentOffset = 0};
  std::size_t at = Ipv6Header::kFixedLength;
  for (int seen = 0; IsExtensionHeader(header.protocol); ++seen) {
    // Every extension header is at least 8 bytes long.
    if (seen == Ipv6Header::kMostExtensionHeaders || !bytes.Has(at, 8)) return std::nullopt;
    if (header.protocol == kFragment) header.fragmentOffset = bytes.U16(at + 2) >> 3;
    const std::size_t length = ExtensionLength(header.protocol, bytes.U8(at + 1));
    header.protocol = bytes.U8(at);
    at += length;
  }
  if (at > bytes.size()) return std::nullopt;  // the last extension header ran past the end
  header.payload = bytes.Rest(at);
  return header;
}

}  // namespace net
