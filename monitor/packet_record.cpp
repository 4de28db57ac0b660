#include "monitor/packet_record.h"

#include "monitor/traffic_monitor.h"

#include "monitor/decimal_text.h"

#include <arpa/inet.h>

#include <charconv>
#include <string_view>

namespace {

template <typename Number>
bool parseDecimal(const std::string& text, Number& value) {
  const char* end = text.data() + text.size();
  const auto [stop, error] = std::from_chars(text.data(), end, value);
  return error == std::errc() && stop == end && !text.empty();
}

bool parseAddress(const std::string& text, std::uint32_t& address) {
  in_addr parsed;
  if (::inet_pton(AF_INET, text.c_str(), &parsed) != 1) return false;
  address = parsed.s_addr;
  return true;
}

// The flags text names each set bit; the names are those of FormatTcpFlags.
bool parseFlags(std::string_view text, std::uint8_t& flags) {
  static constexpr struct {
    std::string_view name;
    std::uint8_t bit;
  } kBits[] = {{"SYN", 0x02}, {"RST", 0x04},  {"FIN", 0x01},  {"ACK", 0x10},
               {"URG", 0x20}, {"PUSH", 0x08}, {"TAPI", 0x02}, {"NETDEV", 0x01}};
  flags = 0;
  while (!text.empty()) {
    const std::size_t comma = text.find(',');
    const std::string_view name = text.substr(0, comma);
    bool known = false;
    for (const auto& entry : kBits)
      if (entry.name == name) {
        flags |= entry.bit;
        known = true;
      }
    if (!known) return false;
    text = comma == std::string_view::npos ? std::string_view() : text.substr(comma + 1);
  }
  return true;
}

std::string addressText(std::uint32_t address) {
  std::string text;
  CTrafficMonitor::AddressToText(address, text);
  return text;
}

}  // namespace

std::optional<PacketRecord> PacketRecord::FromFields(const PacketFields& fields) {
  PacketRecord record{};
  if (parseAddress(fields.srcAddress, record.srcAddress) && parseAddress(fields.dstAddress, record.dstAddress) &&
      parseDecimal(fields.srcPort, record.srcPort) && parseDecimal(fields.dstPort, record.dstPort) &&
      parseDecimal(fields.size, record.size) && parseFlags(fields.flags, record.flags) &&
      parseDecimal(fields.seq, record.seq) && parseDecimal(fields.ack, record.ack))
    return record;
  return std::nullopt;
}

const char* PacketRecord::HeaderText(Header header) { return header == Header::Ip ? "IP Header" : "TCP Header"; }

std::string PacketRecord::RootText() const { return addressText(srcAddress) + " - " + addressText(dstAddress); }

std::string PacketRecord::FieldText(Header header, int row) const {
  if (header == Header::Ip)
    return row == 0 ? CTrafficMonitor::PadLabel("Source IP:") + addressText(srcAddress)
                    : CTrafficMonitor::PadLabel("Destination IP:") + addressText(dstAddress);
  switch (row) {
    case 0: return CTrafficMonitor::PadLabel("Source Port:") + DecimalText(srcPort);
    case 1: return CTrafficMonitor::PadLabel("Destination Port:") + DecimalText(dstPort);
    case 2: return CTrafficMonitor::PadLabel("Size:") + DecimalText(size);
    case 3: return CTrafficMonitor::PadLabel("Flags:") + CTrafficMonitor::FormatTcpFlags(flags);
    case 4: return CTrafficMonitor::PadLabel("Sequence:") + DecimalText(seq);
    default: return CTrafficMonitor::PadLabel("Ack:") + DecimalText(ack);
  }
}
