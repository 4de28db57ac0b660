#include "tools/synthetic_traffic.h"

#include "tools/packet_builder.h"

#include <pcap/dlt.h>

#include <stdexcept>
#include <vector>

namespace tools {
namespace {

std::uint32_t mix(std::uint64_t x) {
  x ^= x >> 33;
  x *= 0xFF51AFD7ED558CCDull;
  x ^= x >> 33;
  return static_cast<std::uint32_t>(x);
}

std::string clientAddress(std::uint32_t connection) {
  return "10.1." + std::to_string(connection / 250 % 256) + "." + std::to_string(connection % 250 + 1);
}

}  // namespace

void GenerateTraffic(std::uint64_t segments, std::uint32_t connections,
                     const std::function<void(std::span<const std::uint8_t>)>& datagram, TrafficShape shape,
                     const std::string& server) {
  if (connections == 0 || segments / connections < 6)
    throw std::invalid_argument("need at least six segments per connection");
  // Next sequence number of each direction: client to server, server to client.
  std::vector<std::uint32_t> clientSeq(connections), serverSeq(connections);
  for (std::uint32_t c = 0; c < connections; ++c) {
    clientSeq[c] = mix(c);
    serverSeq[c] = mix(c + 0x100000000ull);
  }
  for (std::uint64_t i = 0; i < segments; ++i) {
    const auto c = static_cast<std::uint32_t>(i % connections);
    const std::uint64_t k = i / connections;
    const std::uint64_t total = segments / connections + (c < segments % connections ? 1 : 0);
    TcpSegment s;
    s.srcAddress = clientAddress(c);
    s.dstAddress = server;
    s.srcPort = static_cast<std::uint16_t>(20000 + c % 40000);
    s.dstPort = 80;
    s.optionBytes = shape.optionBytes;
    bool fromServer = false;
    if (k == 0) {
      s.flags = kSyn;
    } else if (k == 1) {
      s.flags = kSyn | kAck;
      fromServer = true;
    } else if (k == 2 || k == total - 1) {
      s.flags = kAck;
    } else if (k == total - 3 || k == total - 2) {
      s.flags = kFin | kAck;
      fromServer = k == total - 2;
    } else {
      s.flags = kPsh | kAck;
      s.payloadBytes = shape.minPayload + mix(i) % (shape.maxPayload - shape.minPayload + 1);
      fromServer = k % 2 == 1;
    }
    std::uint32_t& own = fromServer ? serverSeq[c] : clientSeq[c];
    std::uint32_t& peer = fromServer ? clientSeq[c] : serverSeq[c];
    if (fromServer) {
      std::swap(s.srcAddress, s.dstAddress);
      std::swap(s.srcPort, s.dstPort);
    }
    s.seq = own;
    s.ack = k == 0 ? 0 : peer;
    own += s.payloadBytes + ((s.flags & (kSyn | kFin)) ? 1 : 0);
    datagram(TcpDatagram(s));
  }
}

bool WriteTrafficCapture(const std::string& path, std::uint64_t segments, std::uint32_t connections,
                         CaptureWriter::Format format, TrafficShape shape, const std::string& server) {
  CaptureWriter writer(path, format, DLT_EN10MB);
  std::uint64_t microseconds = 1'700'000'000'000'000ull;
  GenerateTraffic(
      segments, connections,
      [&](std::span<const std::uint8_t> datagram) { writer.Write(EthernetFrame(datagram), microseconds++); }, shape,
      server);
  return writer.Close();
}

}  // namespace tools
