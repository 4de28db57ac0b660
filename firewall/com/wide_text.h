#pragma once
// Conversion of wide (UTF-16) text to this system's single-byte code page, UTF-8.
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
