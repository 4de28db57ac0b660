#pragma once
// COM strings: UTF-16 text preceded by its length, freed only with SysFreeString.
#include <cstddef>
#include <memory>

#include "firewall/com/hresult.h"

using OLECHAR = char16_t;
using BSTR = OLECHAR*;

// A copy of the null-terminated text; null for a null text or when memory runs out.
BSTR SysAllocString(const OLECHAR* text);
// A copy of exactly `length` characters (which may include nulls); null when memory runs out.
BSTR SysAllocStringLen(const OLECHAR* text, UINT length);
// The stored length in characters; 0 for null.
UINT SysStringLen(BSTR text);
void SysFreeString(BSTR text);

// How many COM strings are allocated and not yet freed, in the whole process: tests
// compare it before and after an operation to catch a string that was never freed.
std::size_t SysStringsInUse();

struct SysStringDeleter {
  void operator()(BSTR text) const { SysFreeString(text); }
};
using UniqueBstr = std::unique_ptr<OLECHAR, SysStringDeleter>;
