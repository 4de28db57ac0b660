#include "firewall/entry_listing.h"

#include "firewall/com/wide_text.h"

std::string RowText(const OLECHAR* text) {
  char buffer[256] = {};
  WideCharToMultiByte(CP_ACP, 0, text, -1, buffer, sizeof buffer, nullptr, nullptr);
  return buffer;
}
