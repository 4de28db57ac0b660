#include "monitor/packet_record.h"

#include "monitor/text_format.h"
#include "monitor/traffic_monitor.h"

namespace {

std::string addressText(std::uint32_t address) {
  std::string text;
  CTrafficMonitor::AddressToText(address, text);
  return text;
}

}  // namespace

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
    case 3: return CTrafficMonitor::PadLabel("Flags:").append(CTrafficMonitor::FormatTcpFlags(flags));
    case 4: return CTrafficMonitor::PadLabel("Sequence:") + DecimalText(seq);
    default: return CTrafficMonitor::PadLabel("Ack:") + DecimalText(ack);
  }
}
