#include "tools/packet_builder.h"

#include <arpa/inet.h>

#include <stdexcept>

namespace tools {
namespace {

void put16(std::uint8_t* p, std::uint32_t v) {
  p[0] = static_cast<std::uint8_t>(v >> 8);
  p[1] = static_cast<std::uint8_t>(v);
}

void put32(std::uint8_t* p, std::uint32_t v) {
  put16(p, v >> 16);
  put16(p + 2, v);
}

std::uint32_t sum16(const std::uint8_t* p, std::size_t n, std::uint32_t sum = 0) {
  for (std::size_t i = 0; i + 1 < n; i += 2) sum += std::uint32_t(p[i]) << 8 | p[i + 1];
  if (n % 2) sum += std::uint32_t(p[n - 1]) << 8;
  return sum;
}

std::uint16_t fold(std::uint32_t sum) {
  while (sum >> 16) sum = (sum & 0xFFFF) + (sum >> 16);
  return static_cast<std::uint16_t>(~sum);
}

void putAddress(std::uint8_t* p, const std::string& text) {
  if (::inet_pton(AF_INET, text.c_str(), p) != 1) throw std::invalid_argument("not an IPv4 address: " + text);
}

}  // namespace

std::vector<std::uint8_t> Ipv6Packet(std::uint8_t next, const std::vector<std::uint8_t>& rest) {
  std::vector<std::uint8_t> packet = {0x60, 0, 0, 0, 0, static_cast<std::uint8_t>(rest.size()), next, 64};
  for (const std::uint8_t last : {2, 1}) {
    packet.insert(packet.end(), {0xfd, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0});
    packet.push_back(last);
  }
  packet.insert(packet.end(), rest.begin(), rest.end());
  return packet;
}

std::vector<std::uint8_t> Ipv4Datagram(std::uint8_t protocol, const std::string& srcAddress,
                                       const std::string& dstAddress, std::uint32_t payloadBytes) {
  std::vector<std::uint8_t> d(20 + payloadBytes, 0);
  d[0] = 0x45;
  put16(&d[2], static_cast<std::uint32_t>(d.size()));
  d[6] = 0x40;  // don't fragment
  d[8] = 64;
  d[9] = protocol;
  putAddress(&d[12], srcAddress);
  putAddress(&d[16], dstAddress);
  put16(&d[10], fold(sum16(d.data(), 20)));
  return d;
}

std::vector<std::uint8_t> TcpDatagram(const TcpSegment& s) {
  if (s.optionBytes % 4 != 0 || s.optionBytes > 40)
    throw std::invalid_argument("TCP options must be a multiple of 4, at most 40 bytes");
  const std::size_t tcpLength = 20 + s.optionBytes + s.payloadBytes;
  auto d = Ipv4Datagram(6, s.srcAddress, s.dstAddress, static_cast<std::uint32_t>(tcpLength));
  std::uint8_t* t = &d[20];
  put16(t, s.srcPort);
  put16(t + 2, s.dstPort);
  put32(t + 4, s.seq);
  put32(t + 8, s.ack);
  t[12] = static_cast<std::uint8_t>((20 + s.optionBytes) / 4 << 4);
  t[13] = s.flags;
  put16(t + 14, 65535);
  for (std::uint32_t i = 0; i < s.optionBytes; ++i) t[20 + i] = 1;  // no-operation options
  for (std::uint32_t i = 0; i < s.payloadBytes; ++i)
    t[20 + s.optionBytes + i] = static_cast<std::uint8_t>('a' + i % 26);
  std::uint32_t pseudo = sum16(&d[12], 8) + 6 + static_cast<std::uint32_t>(tcpLength);
  put16(t + 16, fold(sum16(t, tcpLength, pseudo)));
  return d;
}

std::vector<std::uint8_t> EthernetFrame(std::span<const std::uint8_t> datagram, std::uint16_t etherType) {
  std::vector<std::uint8_t> f = {0x02, 0, 0, 0, 0, 1, 0x02, 0, 0, 0, 0, 2};
  f.push_back(static_cast<std::uint8_t>(etherType >> 8));
  f.push_back(static_cast<std::uint8_t>(etherType));
  f.insert(f.end(), datagram.begin(), datagram.end());
  if (f.size() < 60) f.resize(60, 0);
  return f;
}

}  // namespace tools
