#pragma once

#include <cstdint>
#include <cstdio>
#include <span>
#include <string>

namespace tools {

// Writes a capture file in the classic pcap format or in pcapng, as tcpdump and
// Wireshark write them: one section, one interface, one packet record per frame.
class CaptureWriter {
 public:
  enum class Format { Pcap, Pcapng };

  CaptureWriter(const std::string& path, Format format, int linkType);
  ~CaptureWriter();
  CaptureWriter(const CaptureWriter&) = delete;
  CaptureWriter& operator=(const CaptureWriter&) = delete;

  // False when the file could not be created or a write failed.
  bool ok() const { return m_file != nullptr && !std::ferror(m_file); }
  void Write(std::span<const std::uint8_t> frame, std::uint64_t microseconds);
  bool Close();

 private:
  void put(const void* data, std::size_t size);
  void put32(std::uint32_t value) { put(&value, sizeof value); }
  void put16(std::uint16_t value) { put(&value, sizeof value); }

  std::FILE* m_file;
  Format m_format;
};

}  // namespace tools
