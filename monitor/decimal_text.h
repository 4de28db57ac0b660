#pragma once

#include <charconv>
#include <string>

// Decimal text of an integer without locale or format parsing: the per-segment path
// makes several of these.
template <typename Number>
std::string DecimalText(Number value) {
  char text[24];
  return std::string(text, std::to_chars(text, text + sizeof text, value).ptr);
}
