// Reading the flow of a queued packet from its bytes, whole, cut short and malformed.
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <vector>

#include "firewall/verdicts/inbound_flow.h"
#include "tools/packet_builder.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

// The first eight bytes of a UDP header from port 53000 to port 53.
const Bytes kUdpHeader = {0xCF, 0x08, 0x00, 0x35, 0x00, 0x08, 0x00, 0x00};

TEST(InboundFlowTest, TcpOverIpv4GivesBothEndsFromTheLocalSide) {
  const Bytes packet = tools::TcpDatagram({"10.0.0.2", "10.0.0.1", 40000, 8080, 1, 0, tools::kSyn});
  const auto flow = ReadInboundFlow(packet);
  ASSERT_TRUE(flow);
  EXPECT_EQ(flow->family, AF_INET);
  EXPECT_EQ(flow->protocol, IPPROTO_TCP);
  EXPECT_EQ(Bytes(flow->localAddress.begin(), flow->localAddress.begin() + 4), (Bytes{10, 0, 0, 1}));
  EXPECT_EQ(Bytes(flow->remoteAddress.begin(), flow->remoteAddress.begin() + 4), (Bytes{10, 0, 0, 2}));
  EXPECT_EQ(flow->localPort, 8080);
  EXPECT_EQ(flow->remotePort, 40000);

  // The kernel may hand over only the start of a packet: the ports are enough.
  EXPECT_TRUE(ReadInboundFlow(std::span(packet).first(24)));
  EXPECT_FALSE(ReadInboundFlow(std::span(packet).first(23)));
}

// Extension headers are the IPv6 reader's (tests/net/ipv6_test.cpp).
TEST(InboundFlowTest, UdpOverIpv6GivesBothEndsFromTheLocalSide) {
  const auto flow = ReadInboundFlow(tools::Ipv6Packet(IPPROTO_UDP, kUdpHeader));
  ASSERT_TRUE(flow);
  EXPECT_EQ(flow->family, AF_INET6);
  EXPECT_EQ(flow->protocol, IPPROTO_UDP);
  EXPECT_EQ(flow->localAddress[0], 0xfd);
  EXPECT_EQ(flow->localAddress[15], 1);
  EXPECT_EQ(flow->remoteAddress[15], 2);
  EXPECT_EQ(flow->localPort, 53);
  EXPECT_EQ(flow->remotePort, 53000);
}

TEST(InboundFlowTest, WhatHoldsNoPortsOfTcpOrUdpIsNoFlow) {
  Bytes laterFragment = tools::TcpDatagram({});
  laterFragment[7] = 0x10;  // fragment offset 16 bytes: no transport header here
  Bytes badHeaderLength = tools::TcpDatagram({});
  badHeaderLength[0] = 0x44;
  Bytes headerPastTheEnd = tools::TcpDatagram({});
  headerPastTheEnd[0] = 0x4F;  // 60 bytes of header in a 40-byte packet
  Bytes shortIpv6 = tools::Ipv6Packet(IPPROTO_UDP, kUdpHeader);
  shortIpv6.resize(39);
  const Bytes cases[] = {
      {},
      {0x45},
      laterFragment,
      badHeaderLength,
      headerPastTheEnd,
      tools::Ipv4Datagram(1, "10.0.0.2", "10.0.0.1", 8),   // ICMP
      {0x55, 0, 0, 0},                                     // IP version 5
      tools::Ipv6Packet(IPPROTO_UDP, {0xCF, 0x08, 0x00}),  // cut inside the ports
      tools::Ipv6Packet(IPPROTO_ICMPV6, kUdpHeader),
      tools::Ipv6Packet(IPPROTO_FRAGMENT, {IPPROTO_UDP, 0, 0x00, 0x08, 0, 0, 0, 7}),  // a later fragment
      tools::Ipv6Packet(IPPROTO_HOPOPTS, {IPPROTO_UDP, 200, 0, 0, 0, 0, 0, 0}),       // options past the end
      shortIpv6,
  };
  for (std::size_t i = 0; i < std::size(cases); ++i) EXPECT_FALSE(ReadInboundFlow(cases[i])) << "case " << i;
}

}  // namespace
