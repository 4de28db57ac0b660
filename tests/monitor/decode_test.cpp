// Decoding of received datagrams into log lines and the segments the tree shows.
#include "tests/monitor/monitor_test_support.h"
#include "tools/packet_builder.h"

#include <gtest/gtest.h>

namespace {

using monitor_test::Lines;
using tools::TcpSegment;

// The texts of a segment's tree items: the root, then each field's value after its label.
std::vector<std::string> TreeTexts(const PacketRecord& packet) {
  std::vector<std::string> texts{packet.RootText()};
  for (const auto header : {PacketRecord::Header::Ip, PacketRecord::Header::Tcp})
    for (int row = 0; row < PacketRecord::FieldCount(header); ++row)
      texts.push_back(packet.FieldText(header, row).substr(CTrafficMonitor::PadLabel("").size()));
  return texts;
}

class DecodeTest : public ::testing::Test {
 protected:
  bool Feed(const std::vector<std::uint8_t>& datagram) {
    return monitor.DecodeIpPacket(datagram.data(), static_cast<std::uint32_t>(datagram.size()));
  }
  std::string Log() const { return dir.Read("Logger.txt"); }

  TempDir dir;
  monitor_test::RecordingMonitor monitor{dir.path()};
};

TEST_F(DecodeTest, SynWithoutOptionsGivesTheDocumentedLineAndFields) {
  TcpSegment syn;
  syn.seq = 1000;
  syn.flags = tools::kSyn;
  const auto datagram = tools::TcpDatagram(syn);
  ASSERT_EQ(datagram.size(), 40u);

  EXPECT_TRUE(Feed(datagram));

  EXPECT_EQ(Log(),
            "10.0.0.2 - 10.0.0.1 {1025-80}, len: 0, seq: 1000,ack: 0, Flags: SYN,TAPI  "
            "/*New session*/ \r\n");
  const auto packets = monitor.Packets();
  ASSERT_EQ(packets.size(), 1u);
  EXPECT_EQ(TreeTexts(packets[0]), (std::vector<std::string>{"10.0.0.2 - 10.0.0.1", "10.0.0.2", "10.0.0.1", "1025",
                                                             "80", "0", "SYN,TAPI", "1000", "0"}));
}

TEST_F(DecodeTest, LineAndTreeAgreeOnTheWidestValues) {
  tools::TcpSegment widest{.srcAddress = "255.255.255.255",
                           .dstAddress = "0.0.0.0",
                           .srcPort = 65535,
                           .dstPort = 0,
                           .seq = 4294967295u,
                           .ack = 4294967295u,
                           .flags = 0x3F,
                           .payloadBytes = 65535 - 40};
  EXPECT_TRUE(Feed(tools::TcpDatagram(widest)));
  EXPECT_EQ(Log(),
            "255.255.255.255 - 0.0.0.0 {65535-0}, len: 65495, seq: 4294967295,ack: 4294967295, "
            "Flags: SYN,RST,FIN,ACK,URG,PUSH,TAPI,NETDEV  /*New session*/ \r\n");
  ASSERT_EQ(monitor.Packets().size(), 1u);
  EXPECT_EQ(TreeTexts(monitor.Packets()[0]),
            (std::vector<std::string>{"255.255.255.255 - 0.0.0.0", "255.255.255.255", "0.0.0.0", "65535", "0", "65495",
                                      "SYN,RST,FIN,ACK,URG,PUSH,TAPI,NETDEV", "4294967295", "4294967295"}));

  // A byte more than IPv4 allows is no datagram, whatever its header says.
  std::vector<std::uint8_t> tooLong = tools::TcpDatagram(widest);
  tooLong.push_back(0);
  EXPECT_FALSE(Feed(tooLong));
  EXPECT_EQ(monitor.Packets().size(), 1u);
}

TEST_F(DecodeTest, DatagramsThatAreNotTcpOverIpv4AddNothing) {
  auto ipv6 = tools::TcpDatagram({});
  ipv6[0] = 0x65;
  auto nineteen = tools::TcpDatagram({});
  nineteen.resize(19);
  const std::uint8_t empty = 0;

  EXPECT_FALSE(Feed(tools::Ipv4Datagram(17, "10.0.0.2", "10.0.0.1", 8)));  // UDP
  EXPECT_FALSE(Feed(tools::Ipv4Datagram(1, "10.0.0.2", "10.0.0.1", 8)));   // ICMP
  EXPECT_FALSE(Feed(ipv6));
  EXPECT_FALSE(Feed(nineteen));
  EXPECT_FALSE(monitor.DecodeIpPacket(&empty, 0));

  EXPECT_EQ(Log(), "");
  EXPECT_TRUE(monitor.Packets().empty());
}

TEST_F(DecodeTest, HeaderLengthsThatLeaveNoTcpHeaderAreDropped) {
  // IHL 15 claims a 60-byte header in a 40-byte datagram: TCP is offered nothing.
  auto longHeader = tools::TcpDatagram({});
  longHeader[0] = 0x4F;
  // IHL 15 in a 79-byte datagram leaves 19 bytes: still no whole TCP header.
  auto shortTcp = tools::TcpDatagram({.payloadBytes = 39});
  shortTcp[0] = 0x4F;
  // IHL below 5 would read the IP header as TCP: malformed.
  auto tooShort = tools::TcpDatagram({.flags = tools::kSyn});
  tooShort[0] = 0x44;

  EXPECT_TRUE(Feed(longHeader));  // handed to TCP processing, which drops it
  EXPECT_TRUE(Feed(shortTcp));
  EXPECT_FALSE(Feed(tooShort));

  EXPECT_EQ(Log(), "");
  EXPECT_TRUE(monitor.Packets().empty());
  EXPECT_EQ(monitor.m_sessions.GetSize(), 0u);
}

TEST_F(DecodeTest, HeaderLengthAboveFiveMovesTheTcpHeader) {
  // Four bytes of IP options before the TCP header.
  const auto plain = tools::TcpDatagram({.srcPort = 4242, .flags = tools::kAck, .payloadBytes = 6});
  std::vector<std::uint8_t> withOptions(plain.begin(), plain.begin() + 20);
  withOptions.insert(withOptions.end(), {1, 1, 1, 0});
  withOptions.insert(withOptions.end(), plain.begin() + 20, plain.end());
  withOptions[0] = 0x46;

  EXPECT_TRUE(Feed(withOptions));
  ASSERT_EQ(monitor.Packets().size(), 1u);
  EXPECT_EQ(monitor.Packets()[0].srcPort, 4242);
  EXPECT_EQ(monitor.Packets()[0].size, 6);
}

TEST_F(DecodeTest, TcpOptionsCountAsSize) {
  EXPECT_TRUE(Feed(tools::TcpDatagram({.flags = tools::kAck, .optionBytes = 12})));
  ASSERT_EQ(monitor.Packets().size(), 1u);
  EXPECT_EQ(monitor.Packets()[0].size, 12);
  EXPECT_NE(Log().find(", len: 12,"), std::string::npos);
}

TEST_F(DecodeTest, AcknowledgementIsShownInFullWithoutTheAckFlag) {
  // The two high flag-byte bits are not named either.
  auto datagram = tools::TcpDatagram({.ack = 4294967295u, .flags = tools::kPsh});
  datagram[33] |= 0xC0;
  EXPECT_TRUE(Feed(datagram));
  ASSERT_EQ(monitor.Packets().size(), 1u);
  EXPECT_EQ(monitor.Packets()[0].ack, 4294967295u);
  EXPECT_EQ(monitor.Packets()[0].flags, tools::kPsh);
  EXPECT_EQ(Lines(Log()).at(0), "10.0.0.2 - 10.0.0.1 {1025-80}, len: 0, seq: 0,ack: 4294967295, Flags: PUSH ");
}

TEST(TcpFlagsText, NamesBitsInTheFixedOrderWithTheirSecondNames) {
  const struct {
    unsigned flags;
    const char* text;
  } cases[] = {
      {0x02, "SYN,TAPI"},
      {0x12, "SYN,ACK,TAPI"},
      {0x11, "FIN,ACK,NETDEV"},
      {0x18, "ACK,PUSH"},
      {0x04, "RST"},
      {0x00, ""},
      {0x20, "URG"},
      {0x3F, "SYN,RST,FIN,ACK,URG,PUSH,TAPI,NETDEV"},
  };
  for (const auto& c : cases) EXPECT_EQ(CTrafficMonitor::FormatTcpFlags(c.flags), c.text) << std::hex << c.flags;
}

TEST(PadLabelText, PadsEveryLabelToFortyOneCharacters) {
  const struct {
    const char* label;
    std::size_t dots;
  } labels[] = {{"Source IP:", 30}, {"Destination IP:", 25}, {"Source Port:", 28}, {"Destination Port:", 23},
                {"Size:", 35},      {"Flags:", 34},          {"Sequence:", 31},    {"Ack:", 36}};
  for (const auto& l : labels) {
    const std::string padded = CTrafficMonitor::PadLabel(l.label);
    EXPECT_EQ(padded, l.label + std::string(l.dots, '.') + " ");
    EXPECT_EQ(padded.size(), 41u);
  }
  EXPECT_EQ(CTrafficMonitor::PadLabel(""), std::string(40, '.') + " ");
}

}  // namespace
