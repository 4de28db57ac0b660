#pragma once

// Reads the fields of a packet's bytes at offsets from its start. Every read is checked
// against the end first: a read that does not fit gives zero (or nothing) and marks the
// reader failed, so that a parser reads all its fields and asks once whether they were there.

#include <cstddef>
#include <cstdint>
#include <span>

namespace net {

class ByteReader {
 public:
  explicit ByteReader(std::span<const std::uint8_t> bytes) : m_bytes(bytes) {}

  std::size_t size() const { return m_bytes.size(); }
  // Whether `count` bytes lie at `at`; never marks the reader failed.
  bool Has(std::size_t at, std::size_t count) const { return at <= m_bytes.size() && count <= m_bytes.size() - at; }
  // False once any read did not fit.
  bool ok() const { return m_ok; }

  std::uint8_t U8(std::size_t at) { return Fits(at, 1) ? m_bytes[at] : 0; }
  // Big-endian loads.
  std::uint16_t U16(std::size_t at) {
    if (!Fits(at, 2)) return 0;
    return static_cast<std::uint16_t>(m_bytes[at] << 8 | m_bytes[at + 1]);
  }
  std::uint32_t U32(std::size_t at) {
    if (!Fits(at, 4)) return 0;
    return std::uint32_t(m_bytes[at]) << 24 | std::uint32_t(m_bytes[at + 1]) << 16 |
           std::uint32_t(m_bytes[at + 2]) << 8 | m_bytes[at + 3];
  }
  // `count` bytes at `at`, as they lie.
  std::span<const std::uint8_t> Bytes(std::size_t at, std::size_t count) {
    return Fits(at, count) ? m_bytes.subspan(at, count) : std::span<const std::uint8_t>();
  }
  // Everything from `at` to the end; empty, without failing, when `at` is at or past the end.
  std::span<const std::uint8_t> Rest(std::size_t at) const {
    return at < m_bytes.size() ? m_bytes.subspan(at) : std::span<const std::uint8_t>();
  }

 private:
  bool Fits(std::size_t at, std::size_t count) {
    const bool fits = Has(at, count);
    if (!fits) m_ok = false;
    return fits;
  }

  std::span<const std::uint8_t> m_bytes;
  bool m_ok = true;
};

}  // namespace net
