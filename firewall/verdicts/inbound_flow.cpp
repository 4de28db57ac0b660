#include "firewall/verdicts/inbound_flow.h"

#include "net/ipv4.h"
#include "net/ipv6.h"
#include "net/transport.h"

#include <sys/socket.h>

#include <cstring>

namespace {

// The flow's network layer, and the bytes where its transport header starts; nothing for a
// packet that is neither IPv4 nor IPv6, or a fragment after the first (it holds no ports).
std::optional<std::span<const std::uint8_t>> ReadNetworkLayer(std::span<const std::uint8_t> packet, InboundFlow& flow) {
  if (const auto ip = net::ParseIpv4(packet)) {
    if (ip->fragmentOffset != 0) return std::nullopt;
    flow.family = AF_INET;
    flow.protocol = ip->protocol;
    std::memcpy(flow.remoteAddress.data(), &ip->sourceAddress, 4);
    std::memcpy(flow.localAddress.data(), &ip->destinationAddress, 4);
    return ip->payload;
  }
  if (const auto ip = net::ParseIpv6(packet)) {
    if (ip->fragmentOffset != 0) return std::nullopt;
    flow.family = AF_INET6;
    flow.protocol = ip->protocol;
    flow.remoteAddress = ip->sourceAddress;
    flow.localAddress = ip->destinationAddress;
    return ip->payload;
  }
  return std::nullopt;
}

}  // namespace

std::optional<InboundFlow> ReadInboundFlow(std::span<const std::uint8_t> packet) {
  InboundFlow flow;
  const auto transport = ReadNetworkLayer(packet, flow);
  if (!transport || (flow.protocol != net::kProtocolTcp && flow.protocol != net::kProtocolUdp)) return std::nullopt;
  const auto ports = net::ParsePorts(*transport);
  if (!ports) return std::nullopt;
  flow.remotePort = ports->source;
  flow.localPort = ports->destination;
  return flow;
}
