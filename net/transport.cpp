#include "net/transport.h"

#include "net/byte_reader.h"

namespace net {

std::optional<TransportPorts> ParsePorts(std::span<const std::uint8_t> transportHeader) {
  ByteReader bytes(transportHeader);
  const TransportPorts ports{.source = bytes.U16(0), .destination = bytes.U16(2)};
  if (!bytes.ok()) return std::nullopt;
  return ports;
}

}  // namespace net
