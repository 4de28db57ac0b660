#pragma once

// Link-layer headers of captured frames.

#include <cstdint>
#include <span>

namespace net {

// The IPv4 datagram carried by one captured frame of link type `linkType` (a libpcap DLT
// value): Ethernet (with any VLAN tags), raw IP, Linux cooked (v1 and v2) and BSD loopback.
// The link-layer header is stripped and any padding after the datagram (an Ethernet frame
// is padded to 60 bytes) is cut at the IP total length. Empty when the frame carries no
// IPv4 datagram or the link type is not one of these.
std::span<const std::uint8_t> Ipv4Payload(int linkType, std::span<const std::uint8_t> frame);

}  // namespace net
