// The compact record the tree keeps, and the item texts made from it.
#include "monitor/packet_record.h"
#include "monitor/traffic_monitor.h"

#include <arpa/inet.h>

#include <gtest/gtest.h>

namespace {

TEST(PacketRecordTest, ItemTextsHaveTheLogLinesForms) {
  const PacketRecord record{
      ::inet_addr("192.168.100.200"), ::inet_addr("10.0.0.1"), 4294967295u, 123, 65535, 80, 1460, 0x11};
  using H = PacketRecord::Header;
  EXPECT_EQ(record.RootText(), "192.168.100.200 - 10.0.0.1");
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
  for (int row = 0; row < 2; ++row) EXPECT_EQ(record.FieldText(H::Ip, row), expected[row]);
  for (int row = 0; row < 6; ++row) EXPECT_EQ(record.FieldText(H::Tcp, row), expected[2 + row]);
}

}  // namespace
