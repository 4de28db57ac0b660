#pragma once

// Builds IPv4/TCP datagrams and Ethernet frames byte by byte, for capture files, raw
// sockets and decoder fixtures.

#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace tools {

struct TcpSegment {
  std::string srcAddress = "10.0.0.2";
  std::string dstAddress = "10.0.0.1";
  std::uint16_t srcPort = 1025;
  std::uint16_t dstPort = 80;
  std::uint32_t seq = 0;
  std::uint32_t ack = 0;
  std::uint8_t flags = 0;         // low six bits: FIN 0x01 SYN 0x02 RST 0x04 PSH 0x08 ACK 0x10 URG 0x20
  std::uint32_t optionBytes = 0;  // TCP options (a multiple of 4, at most 40)
  std::uint32_t payloadBytes = 0;
};

inline constexpr std::uint8_t kFin = 0x01, kSyn = 0x02, kRst = 0x04, kPsh = 0x08, kAck = 0x10, kUrg = 0x20;

// A whole IPv4 datagram with IHL 5, protocol 6, valid checksums.
std::vector<std::uint8_t> TcpDatagram(const TcpSegment& segment);
// An IPv4 datagram of another protocol with `payloadBytes` of zeros.
std::vector<std::uint8_t> Ipv4Datagram(std::uint8_t protocol, const std::string& srcAddress,
                                       const std::string& dstAddress, std::uint32_t payloadBytes);
// An IPv6 packet from fd00::2 to fd00::1 whose header names `next`, then `rest` (extension
// headers and the transport), which must be shorter than 256 bytes.
std::vector<std::uint8_t> Ipv6Packet(std::uint8_t next, const std::vector<std::uint8_t>& rest);
// The datagram in an Ethernet II frame, padded with zeros to the 60-byte minimum.
std::vector<std::uint8_t> EthernetFrame(std::span<const std::uint8_t> datagram, std::uint16_t etherType = 0x0800);

}  // namespace tools
