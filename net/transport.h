#pragma once

// What TCP and UDP have in common: their protocol numbers in the IP header, and the two
// ports their headers open with.

#include <cstdint>
#include <optional>
#include <span>

namespace net {

inline constexpr std::uint8_t kProtocolTcp = 6;
inline constexpr std::uint8_t kProtocolUdp = 17;

struct TransportPorts {
  std::uint16_t source;
  std::uint16_t destination;
};

// The ports from the first four bytes of a TCP or UDP header: all that a packet cut short
// just after the transport header's start may hold. Nothing when they are not all there.
std::optional<TransportPorts> ParsePorts(std::span<const std::uint8_t> transportHeader);

}  // namespace net
