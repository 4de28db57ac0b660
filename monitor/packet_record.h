#pragma once

#include "monitor/packet_fields.h"

#include <cstdint>
#include <optional>
#include <string>

// One TCP segment as the tree keeps it: the numbers behind its eight texts, 24 bytes in
// all. The item texts are made again from them whenever they are asked for.
struct PacketRecord {
  enum class Header { Ip, Tcp };

  std::uint32_t srcAddress;  // network order
  std::uint32_t dstAddress;
  std::uint32_t seq;
  std::uint32_t ack;
  std::uint16_t srcPort;
  std::uint16_t dstPort;
  std::uint16_t size;
  std::uint8_t flags;

  // None when a text is not the form the log step writes.
  static std::optional<PacketRecord> FromFields(const PacketFields& fields);

  static int FieldCount(Header header) { return header == Header::Ip ? 2 : 6; }
  static const char* HeaderText(Header header);
  std::string RootText() const;
  std::string FieldText(Header header, int row) const;
};

static_assert(sizeof(PacketRecord) == 24);
