#pragma once

// The IPv6 header and the extension headers that may follow it.

#include <array>
#include <cstdint>
#include <optional>
#include <span>

namespace net {

struct Ipv6Header {
  static constexpr std::size_t kFixedLength = 40;
  // Extension headers read before giving up on a packet.
  static constexpr int kMostExtensionHeaders = 7;

  std::array<std::uint8_t, 16> sourceAddress;  // network order
  std::array<std::uint8_t, 16> destinationAddress;
  // The first next-header value that is not an extension header (hop-by-hop, routing,
  // fragment, destination options, authentication), and the bytes from where it starts.
  std::uint8_t protocol;
  std::span<const std::uint8_t> payload;
  // From a fragment header, in units of 8 bytes; 0 when there is none or it is the first.
  // In a later fragment `payload` is the middle of a packet, not a header.
  std::uint16_t fragmentOffset;
};

// The header of an IPv6 packet, past its extension headers; nothing when the bytes are not
// version 6, shorter than the fixed header, or an extension header is cut short or runs
// past the end, or there are more than kMostExtensionHeaders of them.
std::optional<Ipv6Header> ParseIpv6(std::span<const std::uint8_t> packet);

}  // namespace net
