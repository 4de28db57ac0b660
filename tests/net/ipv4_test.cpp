// The IPv4 header from whole, cut short and malformed datagrams.
#include "net/ipv4.h"
#include "tools/packet_builder.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>

#include <vector>

namespace {

using Bytes = std::vector<std::uint8_t>;

TEST(Ipv4Test, AWholeDatagramGivesItsFieldsAndWhatFollowsTheHeader) {
  const Bytes datagram =
      tools::TcpDatagram({.srcAddress = "192.168.100.200", .dstAddress = "10.0.0.1", .payloadBytes = 7});
  const auto ip = net::ParseIpv4(datagram);
  ASSERT_TRUE(ip);
  EXPECT_EQ(ip->protocol, 6);
  EXPECT_EQ(ip->fragmentOffset, 0);
  EXPECT_EQ(ip->sourceAddress, ::inet_addr("192.168.100.200"));  // network order, as it lies
  EXPECT_EQ(ip->destinationAddress, ::inet_addr("10.0.0.1"));
  EXPECT_EQ(ip->payload.data(), datagram.data() + 20);
  EXPECT_EQ(ip->payload.size(), 27u);

  // Options move the payload; a header that claims more than arrived leaves none.
  Bytes withOptions = datagram;
  withOptions[0] = 0x46;
  EXPECT_EQ(net::ParseIpv4(withOptions)->payload.data(), withOptions.data() + 24);
  withOptions[0] = 0x4F;
  ASSERT_TRUE(net::ParseIpv4(std::span(withOptions).first(40)));
  EXPECT_TRUE(net::ParseIpv4(std::span(withOptions).first(40))->payload.empty());
  EXPECT_TRUE(net::ParseIpv4(std::span(withOptions).first(60))->payload.empty());
  EXPECT_EQ(net::ParseIpv4(std::span(withOptions).first(61))->payload.size(), 1u);

  // The fragment offset, without the flag bits above it.
  Bytes fragment = datagram;
  fragment[6] = 0x7F;  // DF, MF and the offset's high bits
  fragment[7] = 0xFF;
  EXPECT_EQ(net::ParseIpv4(fragment)->fragmentOffset, 0x1FFF);
}

TEST(Ipv4Test, WhatIsNoIpv4HeaderGivesNothing) {
  const Bytes datagram = tools::TcpDatagram({});
  for (std::size_t length = 0; length < 20; ++length)
    EXPECT_FALSE(net::ParseIpv4(std::span(datagram).first(length))) << length << " bytes";
  EXPECT_TRUE(net::ParseIpv4(std::span(datagram).first(20)));

  for (const std::uint8_t first : {0x40, 0x44, 0x35, 0x55, 0x65, 0x05}) {
    Bytes malformed = datagram;
    malformed[0] = first;  // IHL below 5, or another version
    EXPECT_FALSE(net::ParseIpv4(malformed)) << std::hex << int(first);
  }
}

}  // namespace
