#pragma once

#include "tools/capture_writer.h"

#include <cstdint>
#include <functional>
#include <span>
#include <string>

namespace tools {

// Complete TCP connections between many clients and one server (10.0.0.1:80), their
// segments interleaved round-robin so that all connections are open at once: each one
// has a three-way handshake, data both ways (1 to 256 bytes) and a FIN exchange.
// Deterministic: the same arguments give the same datagrams. Needs at least six
// segments per connection.
void GenerateTraffic(std::uint64_t segments, std::uint32_t connections,
                     const std::function<void(std::span<const std::uint8_t>)>& datagram);

// The same traffic as Ethernet frames in a capture file; false when it cannot be written.
bool WriteTrafficCapture(const std::string& path, std::uint64_t segments, std::uint32_t connections,
                         CaptureWriter::Format format);

}  // namespace tools
