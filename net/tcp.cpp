#include "net/tcp.h"

#include "net/byte_reader.h"

namespace net {

std::optional<TcpHeader> ParseTcp(std::span<const std::uint8_t> segment) {
  ByteReader bytes(segment);
  if (!bytes.Has(0, TcpHeader::kFixedLength)) return std::nullopt;
  return TcpHeader{.sourcePort = bytes.U16(0),
                   .destinationPort = bytes.U16(2),
                   .sequence = bytes.U32(4),
                   .acknowledgement = bytes.U32(8),
                   .flags = static_cast<std::uint8_t>(bytes.U8(13) & 0x3F)};
}

}  // namespace net
