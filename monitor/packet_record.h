#pragma once

#include <cstdint>
#include <string>

// One TCP segment as the log step hands it to the tree and the tree keeps it: the numbers
// behind its eight texts, 24 bytes in all. The item texts are made from them whenever
// they are asked for, with the same text forms as the segment's log line.
struct PacketRecord {
  enum class Header { Ip, Tcp };

  std::uint32_t srcAddress;  // network order
  std::uint32_t dstAddress;
  std::uint32_t seq;
  std::uint32_t ack;
  std::uint16_t srcPort;
  std::uint16_t dstPort;
  std::uint16_t size;
  std::uint8_t flags;  // the six classic bits

  static int FieldCount(Header header) { return header == Header::Ip ? 2 : 6; }
  static const char* HeaderText(Header header);
  std::string RootText() const;
  std::string FieldText(Header header, int row) const;
};

static_assert(sizeof(PacketRecord) == 24);
