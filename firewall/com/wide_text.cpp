#include "firewall/com/wide_text.h"

#include <utility>

namespace {

constexpr bool IsHighSurrogate(char32_t c) { return c >= 0xD800 && c <= 0xDBFF; }
constexpr bool IsLowSurrogate(char32_t c) { return c >= 0xDC00 && c <= 0xDFFF; }
constexpr bool IsSurrogate(char32_t c) { return c >= 0xD800 && c <= 0xDFFF; }

// Encodes the character that starts at source[i]; returns its size in bytes (at most 4)
// and advances i past its code units.
int EncodeNext(const OLECHAR* source, int length, int& i, char* out) {
  char32_t c = source[i++];
  if (IsHighSurrogate(c) && i < length && IsLowSurrogate(source[i])) {
    c = 0x10000 + ((c - 0xD800) << 10) + (source[i++] - 0xDC00);
  } else if (IsSurrogate(c)) {
    c = 0xFFFD;
  }
  if (c < 0x80) {
    out[0] = static_cast<char>(c);
    return 1;
  }
  if (c < 0x800) {
    out[0] = static_cast<char>(0xC0 | (c >> 6));
    out[1] = static_cast<char>(0x80 | (c & 0x3F));
    return 2;
  }
  if (c < 0x10000) {
    out[0] = static_cast<char>(0xE0 | (c >> 12));
    out[1] = static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out[2] = static_cast<char>(0x80 | (c & 0x3F));
    return 3;
  }
  out[0] = static_cast<char>(0xF0 | (c >> 18));
  out[1] = static_cast<char>(0x80 | ((c >> 12) & 0x3F));
  out[2] = static_cast<char>(0x80 | ((c >> 6) & 0x3F));
  out[3] = static_cast<char>(0x80 | (c & 0x3F));
  return 4;
}

}  // namespace

int WideCharToMultiByte(UINT codePage, DWORD, const OLECHAR* source, int sourceLength, char* dest, int destSize,
                        const char*, BOOL*) {
  if ((codePage != CP_ACP && codePage != CP_UTF8) || !source || destSize < 0 || (destSize > 0 && !dest)) return 0;
  const bool withTerminator = sourceLength < 0;
  int length = sourceLength;
  if (withTerminator) {
    length = 0;
    while (source[length] != u'\0') ++length;
  }
  // Room kept back for the terminator, so that a cut text is still terminated.
  const int room = destSize - (withTerminator ? 1 : 0);
  int written = 0;
  for (int i = 0; i < length;) {
    char bytes[4];
    const int size = EncodeNext(source, length, i, bytes);
    if (destSize > 0) {
      if (written + size > room) {
        if (withTerminator) dest[written] = '\0';
        return 0;
      }
      for (int b = 0; b < size; ++b) dest[written + b] = bytes[b];
    }
    written += size;
  }
  if (withTerminator) {
    if (destSize > 0) dest[written] = '\0';
    ++written;
  }
  return written;
}

std::string Utf8Text(std::u16string_view utf16) {
  const int length = static_cast<int>(utf16.size());
  std::string text(
      static_cast<std::size_t>(WideCharToMultiByte(CP_UTF8, 0, utf16.data(), length, nullptr, 0, nullptr, nullptr)),
      '\0');
  WideCharToMultiByte(CP_UTF8, 0, utf16.data(), length, text.data(), static_cast<int>(text.size()), nullptr, nullptr);
  return text;
}

std::optional<std::string> ExactUtf8(std::u16string_view utf16) {
  for (std::size_t i = 0; i < utf16.size(); ++i) {
    const char16_t c = utf16[i];
    if (c == u'\0') return std::nullopt;
    if (IsHighSurrogate(c) && i + 1 < utf16.size() && IsLowSurrogate(utf16[i + 1])) {
      ++i;
    } else if (IsSurrogate(c)) {
      return std::nullopt;
    }
  }
  return Utf8Text(utf16);
}

std::string Utf8OrReplacement(std::u16string_view utf16) {
  if (auto exact = ExactUtf8(utf16)) return *std::move(exact);
  std::u16string text(utf16);
  for (char16_t& c : text)
    if (c == u'\0') c = u'\uFFFD';
  return Utf8Text(text);
}

std::optional<std::u16string> ExactUtf16(std::string_view utf8) {
  std::u16string text;
  text.reserve(utf8.size());
  for (std::size_t i = 0; i < utf8.size();) {
    const auto byte = [&](std::size_t at) { return static_cast<unsigned char>(utf8[at]); };
    const unsigned char lead = byte(i);
    const std::size_t length = lead < 0x80                   ? 1
                               : lead >= 0xC2 && lead < 0xE0 ? 2
                               : lead >= 0xE0 && lead < 0xF0 ? 3
                               : lead >= 0xF0 && lead < 0xF5 ? 4
                                                             : 0;
    if (length == 0 || i + length > utf8.size()) return std::nullopt;
    char32_t c = length == 1 ? lead : lead & (0x7F >> length);
    for (std::size_t k = 1; k < length; ++k) {
      if ((byte(i + k) & 0xC0) != 0x80) return std::nullopt;
      c = c << 6 | (byte(i + k) & 0x3F);
    }
    // Overlong forms, surrogates and values past U+10FFFF are not UTF-8.
    constexpr char32_t kSmallest[] = {0, 0, 0x80, 0x800, 0x10000};
    if (c < kSmallest[length] || IsSurrogate(c) || c > 0x10FFFF || c == 0) return std::nullopt;
    i += length;
    if (c >= 0x10000) {
      c -= 0x10000;
      text += static_cast<char16_t>(0xD800 + (c >> 10));
      text += static_cast<char16_t>(0xDC00 + (c & 0x3FF));
    } else {
      text += static_cast<char16_t>(c);
    }
  }
  return text;
}
