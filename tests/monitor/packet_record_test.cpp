// The compact record the tree keeps, and the item texts made from it.
#include "monitor/packet_record.h"
#include "monitor/traffic_monitor.h"

#include <gtest/gtest.h>

namespace {

const PacketFields kFields{"192.168.100.200", "10.0.0.1", "65535", "80", "1460", "FIN,ACK,NETDEV", "4294967295", "123"};

TEST(PacketRecordTest, TextsComeBackAsTheLogStepMadeThem) {
  const auto record = PacketRecord::FromFields(kFields);
  ASSERT_TRUE(record);
  using H = PacketRecord::Header;
  EXPECT_EQ(record->RootText(), "192.168.100.200 - 10.0.0.1");
  EXPECT_STREQ(PacketRecord::HeaderText(H::Ip), "IP Header");
  EXPECT_STREQ(PacketRecord::HeaderText(H::Tcp), "TCP Header");
  const std::string expected[] = {
      "Source IP:.............................. 192.168.100.200",
      "Destination IP:......................... 10.0.0.1",
      "Source Port:............................ 65535",
      "Destination Port:....................... 80",
      "Size:................................... 1460",
      "Flags:.................................. FIN,ACK,NETDEV",
      "Sequence:............................... 4294967295",
      "Ack:.................................... 123",
  };
  ASSERT_EQ(PacketRecord::FieldCount(H::Ip) + PacketRecord::FieldCount(H::Tcp), 8);
  for (int row = 0; row < 2; ++row) EXPECT_EQ(record->FieldText(H::Ip, row), expected[row]);
  for (int row = 0; row < 6; ++row) EXPECT_EQ(record->FieldText(H::Tcp, row), expected[2 + row]);
}

TEST(PacketRecordTest, EveryFlagsTextSurvivesTheRecord) {
  for (unsigned flags = 0; flags < 64; ++flags) {
    PacketFields fields = kFields;
    fields.flags = CTrafficMonitor::FormatTcpFlags(flags);
    const auto record = PacketRecord::FromFields(fields);
    ASSERT_TRUE(record) << fields.flags;
    EXPECT_EQ(record->FieldText(PacketRecord::Header::Tcp, 3), CTrafficMonitor::PadLabel("Flags:") + fields.flags);
  }
}

TEST(PacketRecordTest, TextsNotMadeByTheLogStepAreRefused) {
  const auto refused = [](auto change) {
    PacketFields fields = kFields;
    change(fields);
    return !PacketRecord::FromFields(fields).has_value();
  };
  EXPECT_TRUE(refused([](PacketFields& f) { f.srcAddress = "10.0.0"; }));
  EXPECT_TRUE(refused([](PacketFields& f) { f.dstAddress = ""; }));
  EXPECT_TRUE(refused([](PacketFields& f) { f.srcPort = "65536"; }));
  EXPECT_TRUE(refused([](PacketFields& f) { f.dstPort = "-1"; }));
  EXPECT_TRUE(refused([](PacketFields& f) { f.size = "12x"; }));
  EXPECT_TRUE(refused([](PacketFields& f) { f.flags = "SYN,,ACK"; }));
  EXPECT_TRUE(refused([](PacketFields& f) { f.flags = "PSH"; }));
  EXPECT_TRUE(refused([](PacketFields& f) { f.seq = "4294967296"; }));
  EXPECT_TRUE(refused([](PacketFields& f) { f.ack = ""; }));
}

}  // namespace
