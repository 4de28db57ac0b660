#pragma once

// The IPv4 header.

#include <cstdint>
#include <optional>
#include <span>

namespace net {

struct Ipv4Header {
  static constexpr std::size_t kFixedLength = 20;

  std::uint16_t fragmentOffset;  // in units of 8 bytes; 0 in a first or whole datagram
  std::uint8_t protocol;
  // Addresses as they lie, in network order.
  std::uint32_t sourceAddress;
  std::uint32_t destinationAddress;
  // The bytes after the header (IHL × 4 bytes) as far as they arrived: empty when the
  // header claims more bytes than there are. The total length is not applied.
  std::span<const std::uint8_t> payload;
};

// The header of an IPv4 datagram; nothing when the bytes are not version 4, shorter than
// the fixed header, or claim a header shorter than it. Options are skipped, not read.
std::optional<Ipv4Header> ParseIpv4(std::span<const std::uint8_t> datagram);

}  // namespace net
