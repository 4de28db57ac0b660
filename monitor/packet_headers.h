#pragma once

// Views of the IPv4 and TCP headers as they lie in a received datagram. The bytes stay
// in network order; each accessor converts the one field it names. A view is only made
// where the bytes it reads are known to be inside the datagram.

#include <cstdint>
#include <cstring>
#include <optional>

namespace wire {

inline std::uint16_t load16(const std::uint8_t* p) { return static_cast<std::uint16_t>(p[0] << 8 | p[1]); }

inline std::uint32_t load32(const std::uint8_t* p) {
  return std::uint32_t(p[0]) << 24 | std::uint32_t(p[1]) << 16 | std::uint32_t(p[2]) << 8 | p[3];
}

// Addresses stay in network order: they go to inet_ntoa as they are.
inline std::uint32_t loadAddress(const std::uint8_t* p) {
  std::uint32_t address;
  std::memcpy(&address, p, sizeof address);
  return address;
}

class Ipv4Header {
 public:
  static constexpr std::uint32_t kMinLength = 20;
  static constexpr std::uint32_t kMaxLength = 0xFFFF;  // the total length is 16 bits
  static constexpr std::uint8_t kProtocolTcp = 6;

  // The fixed header of an IPv4 datagram of `length` bytes; none when the datagram is
  // empty, not version 4, shorter than the fixed header or longer than IPv4 allows.
  static std::optional<Ipv4Header> From(const std::uint8_t* data, std::uint32_t length) {
    if (length == 0 || (data[0] >> 4) != 4 || length < kMinLength || length > kMaxLength) return std::nullopt;
    return Ipv4Header(data);
  }

  std::uint32_t headerLength() const { return (m_p[0] & 0x0Fu) * 4; }  // bytes
  std::uint8_t protocol() const { return m_p[9]; }
  std::uint32_t sourceAddress() const { return loadAddress(m_p + 12); }
  std::uint32_t destinationAddress() const { return loadAddress(m_p + 16); }

 private:
  explicit Ipv4Header(const std::uint8_t* p) : m_p(p) {}
  const std::uint8_t* m_p;
};

// The fixed 20-byte part of a TCP header; options are never read.
class TcpHeader {
 public:
  static constexpr std::int32_t kLength = 20;
  static constexpr unsigned kFin = 0x01, kSyn = 0x02, kRst = 0x04, kPush = 0x08, kAck = 0x10, kUrg = 0x20;

  static std::optional<TcpHeader> From(const std::uint8_t* data, std::int32_t length) {
    if (length < kLength) return std::nullopt;
    return TcpHeader(data);
  }

  std::uint16_t sourcePort() const { return load16(m_p); }
  std::uint16_t destinationPort() const { return load16(m_p + 2); }
  std::uint32_t sequence() const { return load32(m_p + 4); }
  std::uint32_t acknowledgement() const { return load32(m_p + 8); }
  unsigned flags() const { return load16(m_p + 12) & 0x3Fu; }  // the six classic bits

 private:
  explicit TcpHeader(const std::uint8_t* p) : m_p(p) {}
  const std::uint8_t* m_p;
};

}  // namespace wire
