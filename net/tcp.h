#pragma once

// The TCP header.

#include <cstdint>
#include <optional>
#include <span>

namespace net {

// The fixed 20-byte part of a TCP header. The data offset is not read: to a reader of
// this part, any options are simply bytes that follow it.
struct TcpHeader {
  static constexpr std::size_t kFixedLength = 20;
  static constexpr unsigned kFin = 0x01, kSyn = 0x02, kRst = 0x04, kPush = 0x08, kAck = 0x10, kUrg = 0x20;

  std::uint16_t sourcePort;
  std::uint16_t destinationPort;
  std::uint32_t sequence;
  std::uint32_t acknowledgement;
  std::uint8_t flags;  // the six classic bits
};

// Nothing when fewer than the fixed 20 bytes are there.
std::optional<TcpHeader> ParseTcp(std::span<const std::uint8_t> segment);

}  // namespace net
