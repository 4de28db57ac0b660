#pragma once
// Conversion between wide (UTF-16) text and this system's single-byte code page, UTF-8.
#include <optional>
#include <string>
#include <string_view>

#include "firewall/com/bstr.h"

inline constexpr UINT CP_ACP = 0;
inline constexpr UINT CP_UTF8 = 65001;

// Converts `sourceLength` UTF-16 units of `source`, or with -1 the text up to and
// including its terminator. An unpaired surrogate becomes U+FFFD. Returns the number of
// bytes written, or with `destSize` 0 the number of bytes needed. When the text does not
// fit, as many whole characters as fit are written, followed by a terminator when the
// source's terminator was asked for, and the result is 0: a character is never cut.
// Only CP_ACP and CP_UTF8 are known (both UTF-8); flags and a default character are not.
int WideCharToMultiByte(UINT codePage, DWORD flags, const OLECHAR* source, int sourceLength, char* dest, int destSize,
                        const char* defaultChar, BOOL* usedDefaultChar);

// UTF-8 of the whole text, an unpaired surrogate becoming U+FFFD.
std::string Utf8Text(std::u16string_view utf16);
// UTF-8 of a text that names something outside (a file, a bus text): nothing when it holds
// a NUL or an unpaired surrogate, which no such name can hold.
std::optional<std::string> ExactUtf8(std::u16string_view utf16);
// For a text the firewall already holds, on its way out: what no name can hold becomes U+FFFD.
std::string Utf8OrReplacement(std::u16string_view utf16);
// UTF-16 of a text from outside: nothing for bytes that are not UTF-8 or for a NUL.
std::optional<std::u16string> ExactUtf16(std::string_view utf8);
