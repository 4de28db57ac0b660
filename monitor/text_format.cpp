#include "monitor/text_format.h"

#include "net/tcp.h"

#include <array>

namespace {

// Every flags text, made once: one per value of the six flag bits.
struct FlagsText {
  char text[40];
  std::size_t length;
};

constexpr std::array<FlagsText, 64> kFlagsTexts = [] {
  using net::TcpHeader;
  constexpr struct {
    unsigned bit;
    std::string_view name;
  } kNames[] = {{TcpHeader::kSyn, "SYN"},  {TcpHeader::kRst, "RST"},   {TcpHeader::kFin, "FIN"},
                {TcpHeader::kAck, "ACK"},  {TcpHeader::kUrg, "URG"},   {TcpHeader::kPush, "PUSH"},
                {TcpHeader::kSyn, "TAPI"}, {TcpHeader::kFin, "NETDEV"}};
  std::array<FlagsText, 64> texts{};
  for (unsigned flags = 0; flags < texts.size(); ++flags) {
    FlagsText& t = texts[flags];
    for (const auto& entry : kNames) {
      if (!(flags & entry.bit)) continue;
      if (t.length != 0) t.text[t.length++] = ',';
      for (const char c : entry.name) t.text[t.length++] = c;
    }
  }
  return texts;
}();

}  // namespace

std::string DottedAddress(std::uint32_t address) {
  char text[kDottedAddressMax];
  return std::string(text, WriteDottedAddress(text, address));
}

std::string_view TcpFlagsText(unsigned flags) {
  const FlagsText& t = kFlagsTexts[flags & 0x3F];
  return {t.text, t.length};
}

std::string PaddedLabel(std::string_view label) {
  constexpr std::size_t kWidth = 40;
  std::string text(label);
  if (text.size() < kWidth) text.append(kWidth - text.size(), '.');
  text += ' ';
  return text;
}
