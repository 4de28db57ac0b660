#pragma once
// The first packet of a new inbound flow, read as far as a verdict needs: which local
// socket would receive it.
#include <array>
#include <cstdint>
#include <optional>
#include <span>

struct InboundFlow {
  int family = 0;             // AF_INET or AF_INET6
  std::uint8_t protocol = 0;  // IPPROTO_TCP or IPPROTO_UDP
  // In network order; an IPv4 address takes the first four bytes.
  std::array<std::uint8_t, 16> localAddress{};
  std::array<std::uint8_t, 16> remoteAddress{};
  std::uint16_t localPort = 0;  // host order
  std::uint16_t remotePort = 0;
};

// Reads the flow of a packet that starts at its IPv4 or IPv6 header, as the kernel hands
// it over (perhaps cut short after the transport header's start). Nothing for a packet that
// is not TCP or UDP, is cut short before the ports, or is a fragment after the first.
std::optional<InboundFlow> ReadInboundFlow(std::span<const std::uint8_t> packet);
