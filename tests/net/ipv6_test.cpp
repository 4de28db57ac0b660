// The IPv6 header and its extension headers, from whole, cut short and malformed packets.
#include "net/ipv6.h"

#include <gtest/gtest.h>
#include <netinet/in.h>

#include <vector>

#include "tools/packet_builder.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes Joined(std::initializer_list<Bytes> parts) {
  Bytes joined;
  for (const Bytes& part : parts) joined.insert(joined.end(), part.begin(), part.end());
  return joined;
}

// The first eight bytes of a UDP header from port 53000 to port 53.
const Bytes kUdpHeader = {0xCF, 0x08, 0x00, 0x35, 0x00, 0x08, 0x00, 0x00};
// Extension headers of 8 bytes, each naming the one after it.
Bytes Options(std::uint8_t next) { return {next, 0, 1, 4, 0, 0, 0, 0}; }
Bytes Fragment(std::uint8_t next, std::uint16_t offset) {
  return {next, 0, static_cast<std::uint8_t>(offset >> 5), static_cast<std::uint8_t>(offset << 3 | 1), 0, 0, 0, 7};
}
// `count` destination-options headers, the last naming UDP, then a UDP header.
Bytes OptionsChain(int count) {
  Bytes chain;
  for (int i = 1; i <= count; ++i)
    chain = Joined({chain, Options(i == count ? std::uint8_t{IPPROTO_UDP} : std::uint8_t{IPPROTO_DSTOPTS})});
  return Joined({chain, kUdpHeader});
}

TEST(Ipv6Test, TheTransportIsFoundPastTheExtensionHeaders) {
  const Bytes plain = tools::Ipv6Packet(IPPROTO_UDP, kUdpHeader);
  const auto ip = net::ParseIpv6(plain);
  ASSERT_TRUE(ip);
  EXPECT_EQ(ip->sourceAddress[0], 0xfd);
  EXPECT_EQ(ip->sourceAddress[15], 2);
  EXPECT_EQ(ip->destinationAddress[15], 1);
  EXPECT_EQ(ip->protocol, IPPROTO_UDP);
  EXPECT_EQ(ip->payload.data(), plain.data() + 40);
  EXPECT_EQ(ip->payload.size(), 8u);

  // Hop-by-hop options, a first fragment, authentication (12 bytes), then UDP.
  const Bytes authentication = {IPPROTO_UDP, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
  const Bytes extended = tools::Ipv6Packet(
      IPPROTO_HOPOPTS, Joined({Options(IPPROTO_FRAGMENT), Fragment(IPPROTO_AH, 0), authentication, kUdpHeader}));
  const auto behind = net::ParseIpv6(extended);
  ASSERT_TRUE(behind);
  EXPECT_EQ(behind->protocol, IPPROTO_UDP);
  EXPECT_EQ(behind->fragmentOffset, 0);
  EXPECT_EQ(behind->payload.data(), extended.data() + 68);

  // Cut anywhere, the packet is either refused or read within its bytes.
  for (std::size_t length = 0; length < extended.size(); ++length) {
    const auto cut = net::ParseIpv6(std::span(extended).first(length));
    EXPECT_EQ(cut.has_value(), length >= 68) << length << " bytes";
    if (cut) {
      EXPECT_EQ(cut->payload.size(), length - 68);
    }
  }

  // A later fragment says where it lies; what follows is not a header then.
  const auto later =
      net::ParseIpv6(tools::Ipv6Packet(IPPROTO_FRAGMENT, Joined({Fragment(IPPROTO_UDP, 1), kUdpHeader})));
  ASSERT_TRUE(later);
  EXPECT_EQ(later->fragmentOffset, 1);
  // What is not an extension header is the protocol, whatever it is.
  EXPECT_EQ(net::ParseIpv6(tools::Ipv6Packet(IPPROTO_ICMPV6, kUdpHeader))->protocol, IPPROTO_ICMPV6);
}

TEST(Ipv6Test, MalformedPacketsGiveNothing) {
  Bytes shortHeader = tools::Ipv6Packet(IPPROTO_UDP, kUdpHeader);
  shortHeader.resize(39);
  Bytes version4 = tools::Ipv6Packet(IPPROTO_UDP, kUdpHeader);
  version4[0] = 0x45;
  ASSERT_TRUE(net::ParseIpv6(tools::Ipv6Packet(IPPROTO_DSTOPTS, OptionsChain(net::Ipv6Header::kMostExtensionHeaders))));

  const Bytes cases[] = {
      {},
      {0x60},
      shortHeader,
      version4,
      tools::Ipv6Packet(IPPROTO_HOPOPTS, {IPPROTO_UDP, 200, 0, 0, 0, 0, 0, 0}),    // options past the end
      tools::Ipv6Packet(IPPROTO_DSTOPTS, {IPPROTO_DSTOPTS, 0, 0, 0, 0, 0, 0, 0}),  // options until the end
      tools::Ipv6Packet(IPPROTO_ROUTING, {IPPROTO_UDP, 0, 0, 0}),                  // cut inside the extension header
      tools::Ipv6Packet(IPPROTO_AH, {IPPROTO_UDP, 1, 0, 0, 0, 0, 0, 0}),  // authentication runs 4 bytes past the end
      tools::Ipv6Packet(IPPROTO_DSTOPTS, OptionsChain(net::Ipv6Header::kMostExtensionHeaders + 1)),
  };
  for (std::size_t i = 0; i < std::size(cases); ++i) EXPECT_FALSE(net::ParseIpv6(cases[i])) << "case " << i;
}

}  // namespace
