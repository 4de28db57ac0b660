#pragma once

#include <charconv>
#include <cstdint>
#include <cstring>
#include <string>

// Texts of numbers and addresses without locale or format parsing.

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
