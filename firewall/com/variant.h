#pragma once
// Variants and the variant enumerator, as far as collections hand out their entries.
#include <cstdint>

#include "firewall/com/unknown.h"

using VARIANT_BOOL = std::int16_t;
inline constexpr VARIANT_BOOL VARIANT_TRUE = -1;
inline constexpr VARIANT_BOOL VARIANT_FALSE = 0;

using VARTYPE = std::uint16_t;
inline constexpr VARTYPE VT_EMPTY = 0;
inline constexpr VARTYPE VT_DISPATCH = 9;
inline constexpr VARTYPE VT_UNKNOWN = 13;

struct VARIANT {
  VARTYPE vt;
  union {
    IUnknown* punkVal;
    IDispatch* pdispVal;
  };
};

void VariantInit(VARIANT* variant);
// Releases what the variant holds and leaves it empty.
HRESULT VariantClear(VARIANT* variant);

struct IEnumVARIANT : IUnknown {
  static constexpr IID iid{0x00020404, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
  // Delivers up to `count` elements; S_OK when all were delivered, S_FALSE when fewer.
  virtual HRESULT Next(ULONG count, VARIANT* elements, ULONG* fetched) = 0;
  virtual HRESULT Reset() = 0;

 protected:
  ~IEnumVARIANT() = default;
};

inline constexpr const IID& IID_IEnumVARIANT = IEnumVARIANT::iid;
