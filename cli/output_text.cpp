#include "cli/output_text.h"

#include <cstdio>

#include "firewall/com/records.h"

std::string TerminalText(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    const auto byte = static_cast<unsigned char>(text[i]);
    char escaped[8];
    if (byte == '\\') {
      out += "\\\\";
    } else if (byte < 0x20 || byte == 0x7F) {
      std::snprintf(escaped, sizeof escaped, "\\x%02x", byte);
      out += escaped;
    } else if (byte == 0xC2 && i + 1 < text.size() && static_cast<unsigned char>(text[i + 1]) < 0xA0 &&
               static_cast<unsigned char>(text[i + 1]) >= 0x80) {
      // U+0080 to U+009F, which some terminals take as commands.
      std::snprintf(escaped, sizeof escaped, "\\u%04x", static_cast<unsigned char>(text[++i]));
      out += escaped;
    } else {
      out += text[i];
    }
  }
  return out;
}

const char* ProtocolName(long protocol) {
  return protocol == kProtocolTcp ? "tcp" : protocol == kProtocolUdp ? "udp" : "other";
}
