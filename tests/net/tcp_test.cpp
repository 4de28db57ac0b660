// The TCP header, and the ports TCP and UDP headers open with, from whole, cut short and
// malformed bytes.
#include "net/tcp.h"
#include "net/transport.h"
#include "tools/packet_builder.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

using Bytes = std::vector<std::uint8_t>;

// The TCP part of a datagram built with IHL 5.
Bytes Segment(const tools::TcpSegment& segment) {
  const Bytes datagram = tools::TcpDatagram(segment);
  return Bytes(datagram.begin() + 20, datagram.end());
}

TEST(TcpTest, TheFixedHeaderGivesPortsNumbersAndTheSixFlags) {
  Bytes bytes =
      Segment({.srcPort = 65535, .dstPort = 80, .seq = 4294967295u, .ack = 123, .flags = tools::kFin | tools::kAck});
  bytes[13] |= 0xC0;  // the two bits above the classic six are never flags here
  const auto tcp = net::ParseTcp(bytes);
  ASSERT_TRUE(tcp);
  EXPECT_EQ(tcp->sourcePort, 65535);
  EXPECT_EQ(tcp->destinationPort, 80);
  EXPECT_EQ(tcp->sequence, 4294967295u);
  EXPECT_EQ(tcp->acknowledgement, 123u);
  EXPECT_EQ(tcp->flags, net::TcpHeader::kFin | net::TcpHeader::kAck);

  // The data offset is not read: the fixed part stands whatever it claims.
  for (const std::uint8_t offset : {0x00, 0x40, 0xF0}) {
    bytes[12] = offset;
    ASSERT_TRUE(net::ParseTcp(bytes)) << std::hex << int(offset);
    EXPECT_EQ(net::ParseTcp(bytes)->acknowledgement, 123u);
  }
}

TEST(TcpTest, FewerThanTwentyBytesAreNoHeader) {
  const Bytes bytes = Segment({.optionBytes = 8});
  for (std::size_t length = 0; length < 20; ++length)
    EXPECT_FALSE(net::ParseTcp(std::span(bytes).first(length))) << length << " bytes";
  EXPECT_TRUE(net::ParseTcp(std::span(bytes).first(20)));
}

TEST(TransportPortsTest, FourBytesHoldThePortsOfTcpOrUdp) {
  const Bytes udp = {0xCF, 0x08, 0x00, 0x35, 0x00, 0x08, 0x00, 0x00};
  const auto ports = net::ParsePorts(udp);
  ASSERT_TRUE(ports);
  EXPECT_EQ(ports->source, 53000);
  EXPECT_EQ(ports->destination, 53);
  EXPECT_TRUE(net::ParsePorts(std::span(udp).first(4)));
  for (std::size_t length = 0; length < 4; ++length)
    EXPECT_FALSE(net::ParsePorts(std::span(udp).first(length))) << length << " bytes";
}

}  // namespace
