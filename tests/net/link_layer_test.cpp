// Frames to IPv4 datagrams: link-layer headers and padding removed.
#include "net/link_layer.h"
#include "tools/packet_builder.h"

#include <gtest/gtest.h>

#include <pcap/dlt.h>

namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes Payload(int linkType, const Bytes& frame) {
  const auto p = net::Ipv4Payload(linkType, frame);
  return Bytes(p.begin(), p.end());
}

const Bytes kSyn = tools::TcpDatagram({.flags = tools::kSyn});  // 40 bytes

TEST(LinkLayerTest, EthernetPaddingIsCutAtTheTotalLength) {
  const Bytes frame = tools::EthernetFrame(kSyn);
  ASSERT_EQ(frame.size(), 60u);  // 14 + 40 + 6 bytes of padding
  EXPECT_EQ(Payload(DLT_EN10MB, frame), kSyn);
}

TEST(LinkLayerTest, VlanTagsAreSkipped) {
  Bytes frame = tools::EthernetFrame(kSyn);
  frame.insert(frame.begin() + 12, {0x81, 0x00, 0x00, 0x05, 0x88, 0xA8, 0x00, 0x07});
  EXPECT_EQ(Payload(DLT_EN10MB, frame), kSyn);
}

TEST(LinkLayerTest, CookedLoopbackAndRawHeadersAreStripped) {
  Bytes sll(16, 0);
  sll[14] = 0x08;
  sll.insert(sll.end(), kSyn.begin(), kSyn.end());
  EXPECT_EQ(Payload(DLT_LINUX_SLL, sll), kSyn);

  Bytes sll2(20, 0);
  sll2[0] = 0x08;
  sll2.insert(sll2.end(), kSyn.begin(), kSyn.end());
  EXPECT_EQ(Payload(DLT_LINUX_SLL2, sll2), kSyn);

  Bytes null = {2, 0, 0, 0};
  null.insert(null.end(), kSyn.begin(), kSyn.end());
  EXPECT_EQ(Payload(DLT_NULL, null), kSyn);

  EXPECT_EQ(Payload(DLT_RAW, kSyn), kSyn);
}

TEST(LinkLayerTest, AFrameCutAnywhereGivesWhatArrivedOfTheDatagram) {
  const auto cooked = [](std::size_t length, std::size_t typeAt) {
    Bytes header(length, 0);
    header[typeAt] = 0x08;
    return header;
  };
  Bytes vlan = tools::EthernetFrame(kSyn);
  vlan.insert(vlan.begin() + 12, {0x81, 0x00, 0x00, 0x05});
  const struct {
    int linkType;
    Bytes header;
  } links[] = {{DLT_EN10MB, Bytes(vlan.begin(), vlan.begin() + 18)},
               {DLT_LINUX_SLL, cooked(16, 14)},
               {DLT_LINUX_SLL2, cooked(20, 0)},
               {DLT_LOOP, {0, 0, 0, 2}},
               {DLT_IPV4, {}}};
  for (const auto& link : links) {
    Bytes frame = link.header;
    frame.insert(frame.end(), kSyn.begin(), kSyn.end());
    frame.resize(frame.size() + 6);  // padding
    for (std::size_t length = 0; length <= frame.size(); ++length) {
      const Bytes got = Payload(link.linkType, Bytes(frame.begin(), frame.begin() + length));
      const std::size_t arrived = length > link.header.size() ? length - link.header.size() : 0;
      EXPECT_EQ(got, Bytes(kSyn.begin(), kSyn.begin() + std::min<std::size_t>(arrived, kSyn.size())))
          << "link type " << link.linkType << ", " << length << " bytes";
    }
  }
}

TEST(LinkLayerTest, FramesWithoutIpv4GiveNothing) {
  EXPECT_TRUE(Payload(DLT_EN10MB, tools::EthernetFrame(kSyn, 0x0806)).empty());  // ARP type
  Bytes v6 = kSyn;
  v6[0] = 0x60;
  EXPECT_TRUE(Payload(DLT_EN10MB, tools::EthernetFrame(v6, 0x0800)).empty());
  EXPECT_TRUE(Payload(DLT_RAW, v6).empty());
  EXPECT_TRUE(Payload(DLT_EN10MB, Bytes(14, 0)).empty());  // header only
  EXPECT_TRUE(Payload(DLT_EN10MB, Bytes(5, 0)).empty());
  Bytes null = {24, 0, 0, 0};  // another address family
  null.insert(null.end(), kSyn.begin(), kSyn.end());
  EXPECT_TRUE(Payload(DLT_NULL, null).empty());
  EXPECT_TRUE(Payload(DLT_IEEE802_11, kSyn).empty());
}

TEST(LinkLayerTest, ImplausibleTotalLengthKeepsWhatWasCaptured) {
  // Segmentation offload hands up datagrams whose total length is 0 ...
  Bytes offloaded = tools::TcpDatagram({.payloadBytes = 100});
  offloaded[2] = offloaded[3] = 0;
  EXPECT_EQ(Payload(DLT_RAW, offloaded).size(), offloaded.size());
  // ... and a snapshot may end before the total length.
  Bytes cut = tools::TcpDatagram({.payloadBytes = 100});
  cut.resize(60);
  EXPECT_EQ(Payload(DLT_RAW, cut).size(), 60u);
}

}  // namespace
