#pragma once

#include <charconv>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

// Texts of numbers, addresses and TCP flags, as the log line and the tree show them,
// without locale or format parsing.

template <typename Number>
std::string DecimalText(Number value) {
  char text[24];
  return std::string(text, std::to_chars(text, text + sizeof text, value).ptr);
}

// The dotted text of an IPv4 address in network order ("192.168.0.1"), written at `out`,
// which must have room for kDottedAddressMax characters; returns the end of the text.
inline constexpr std::size_t kDottedAddressMax = 15;

inline char* WriteDottedAddress(char* out, std::uint32_t address) {
  unsigned char bytes[4];
  std::memcpy(bytes, &address, sizeof bytes);
  for (int i = 0; i < 4; ++i) {
    if (i != 0) *out++ = '.';
    // Each segment's line has eight of these: digit by digit is quicker than a general
    // conversion for numbers this small.
    unsigned byte = bytes[i];
    if (byte >= 100) {
      *out++ = static_cast<char>('0' + byte / 100);
      byte %= 100;
      *out++ = static_cast<char>('0' + byte / 10);
    } else if (byte >= 10) {
      *out++ = static_cast<char>('0' + byte / 10);
    }
    *out++ = static_cast<char>('0' + byte % 10);
  }
  return out;
}

// The dotted text of an IPv4 address in network order.
std::string DottedAddress(std::uint32_t address);

// The names of the six classic TCP flag bits, comma-separated, in a fixed order in which
// SYN and FIN come twice, the second time under their other names (TAPI and NETDEV).
std::string_view TcpFlagsText(unsigned flags);

// `label`, then dots to 40 characters, then a blank: the start of a tree field's text.
std::string PaddedLabel(std::string_view label);
