#include "monitor/packet_record.h"

#include "monitor/text_format.h"

const char* PacketRecord::HeaderText(Header header) { return header == Header::Ip ? "IP Header" : "TCP Header"; }

std::string PacketRecord::RootText() const { return DottedAddress(srcAddress) + " - " + DottedAddress(dstAddress); }

std::string PacketRecord::FieldText(Header header, int row) const {
  if (header == Header::Ip)
    return row == 0 ? PaddedLabel("Source IP:") + DottedAddress(srcAddress)
                    : PaddedLabel("Destination IP:") + DottedAddress(dstAddress);
  switch (row) {
    case 0: return PaddedLabel("Source Port:") + DecimalText(srcPort);
    case 1: return PaddedLabel("Destination Port:") + DecimalText(dstPort);
    case 2: return PaddedLabel("Size:") + DecimalText(size);
    case 3: return PaddedLabel("Flags:").append(TcpFlagsText(flags));
    case 4: return PaddedLabel("Sequence:") + DecimalText(seq);
    default: return PaddedLabel("Ack:") + DecimalText(ack);
  }
}
