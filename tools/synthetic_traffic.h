#pragma once

#include "tools/capture_writer.h"

#include <cstdint>
#include <functional>
#include <span>
#include <string>

namespace tools {

// The sizes of the generated segments: data of `minPayload` to `maxPayload` bytes in each
// data segment, and `optionBytes` of TCP options (a multiple of 4) in every segment.
struct TrafficShape {
  std::uint32_t minPayload = 1;
  std::uint32_t maxPayload = 256;
  std::uint32_t optionBytes = 0;
};
// What a busy link carries: empty acknowledgements beside segments up to a full Ethernet
// payload, and timestamps in every segment.
inline constexpr TrafficShape kRealisticTraffic{.minPayload = 0, .maxPayload = 1400, .optionBytes = 12};

// Complete TCP connections between many clients (10.1.x.y) and one server (`server`, port 80), their
// segments interleaved round-robin so that all connections are open at once: each one
// has a three-way handshake, data both ways and a FIN exchange. Deterministic: the same
// arguments give the same datagrams. Needs at least six segments per connection.
void GenerateTraffic(std::uint64_t segments, std::uint32_t connections,
                     const std::function<void(std::span<const std::uint8_t>)>& datagram, TrafficShape shape = {},
                     const std::string& server = "10.0.0.1");

// The same traffic as Ethernet frames in a capture file; false when it cannot be written.
bool WriteTrafficCapture(const std::string& path, std::uint64_t segments, std::uint32_t connections,
                         CaptureWriter::Format format, TrafficShape shape = {}, const std::string& server = "10.0.0.1");

}  // namespace tools
