#include "tools/capture_writer.h"

namespace tools {
namespace {

constexpr std::uint32_t kSnapLength = 65535;

}  // namespace

// Both formats are written in this host's byte order; readers detect it from the magic.
CaptureWriter::CaptureWriter(const std::string& path, Format format, int linkType)
    : m_file(std::fopen(path.c_str(), "wb")), m_format(format) {
  if (m_file == nullptr) return;
  std::setvbuf(m_file, nullptr, _IOFBF, 1 << 20);
  if (format == Format::Pcap) {
    put32(0xA1B2C3D4);  // microsecond timestamps
    put16(2);
    put16(4);
    put32(0);  // time zone
    put32(0);  // accuracy
    put32(kSnapLength);
    put32(static_cast<std::uint32_t>(linkType));
    return;
  }
  // Section header block, then the one interface description block.
  put32(0x0A0D0D0A);
  put32(28);
  put32(0x1A2B3C4D);
  put16(1);
  put16(0);
  put32(0xFFFFFFFF);  // section length unknown
  put32(0xFFFFFFFF);
  put32(28);
  put32(1);
  put32(20);
  put16(static_cast<std::uint16_t>(linkType));
  put16(0);
  put32(kSnapLength);
  put32(20);
}

CaptureWriter::~CaptureWriter() { Close(); }

bool CaptureWriter::Close() {
  if (m_file == nullptr) return false;
  const bool good = !std::ferror(m_file);
  const bool closed = std::fclose(m_file) == 0;
  m_file = nullptr;
  return good && closed;
}

void CaptureWriter::put(const void* data, std::size_t size) {
  if (m_file != nullptr) std::fwrite(data, 1, size, m_file);
}

void CaptureWriter::Write(std::span<const std::uint8_t> frame, std::uint64_t microseconds) {
  const auto length = static_cast<std::uint32_t>(frame.size());
  if (m_format == Format::Pcap) {
    put32(static_cast<std::uint32_t>(microseconds / 1000000));
    put32(static_cast<std::uint32_t>(microseconds % 1000000));
    put32(length);
    put32(length);
    put(frame.data(), frame.size());
    return;
  }
  // Enhanced packet block; the data is padded to 32 bits.
  const std::uint32_t padded = (length + 3) & ~3u;
  const std::uint32_t total = 32 + padded;
  put32(6);
  put32(total);
  put32(0);  // interface
  put32(static_cast<std::uint32_t>(microseconds >> 32));
  put32(static_cast<std::uint32_t>(microseconds));
  put32(length);
  put32(length);
  put(frame.data(), frame.size());
  static constexpr std::uint8_t kZeros[3] = {};
  put(kZeros, padded - length);
  put32(total);
}

}  // namespace tools
