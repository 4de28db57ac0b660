#pragma once
// Result codes and the small integer types of the COM layer.
#include <cstdint>

using HRESULT = std::int32_t;
using BOOL = std::int32_t;
using LONG = std::int32_t;
using ULONG = std::uint32_t;
using DWORD = std::uint32_t;
using UINT = unsigned int;

inline constexpr BOOL TRUE = 1;
inline constexpr BOOL FALSE = 0;

constexpr bool SUCCEEDED(HRESULT hr) { return hr >= 0; }
constexpr bool FAILED(HRESULT hr) { return hr < 0; }

// The values are the platform's, so that a code printed in a diagnostic means what it
// means everywhere else.
inline constexpr HRESULT S_OK = 0;
inline constexpr HRESULT S_FALSE = 1;
inline constexpr HRESULT E_FAIL = static_cast<HRESULT>(0x80004005u);
inline constexpr HRESULT E_NOINTERFACE = static_cast<HRESULT>(0x80004002u);
inline constexpr HRESULT E_POINTER = static_cast<HRESULT>(0x80004003u);
inline constexpr HRESULT E_OUTOFMEMORY = static_cast<HRESULT>(0x8007000Eu);
inline constexpr HRESULT E_INVALIDARG = static_cast<HRESULT>(0x80070057u);
inline constexpr HRESULT E_ACCESSDENIED = static_cast<HRESULT>(0x80070005u);
inline constexpr HRESULT E_ABORT = static_cast<HRESULT>(0x80004004u);
inline constexpr HRESULT REGDB_E_CLASSNOTREG = static_cast<HRESULT>(0x80040154u);
inline constexpr HRESULT CLASS_E_NOAGGREGATION = static_cast<HRESULT>(0x80040110u);
inline constexpr HRESULT CO_E_NOTINITIALIZED = static_cast<HRESULT>(0x800401F0u);
// A key that the collection does not hold (ERROR_FILE_NOT_FOUND as an HRESULT).
inline constexpr HRESULT HRESULT_NOT_FOUND = static_cast<HRESULT>(0x80070002u);
// The store stayed locked by another process past the busy timeout (ERROR_BUSY).
inline constexpr HRESULT HRESULT_BUSY = static_cast<HRESULT>(0x800700AAu);

// A system error number (a Winsock one, for instance) as a failure HRESULT, and back.
constexpr HRESULT HRESULT_FROM_WIN32(unsigned code) {
  return code == 0 ? S_OK : static_cast<HRESULT>((code & 0xFFFFu) | 0x80070000u);
}
constexpr bool IS_WIN32_HRESULT(HRESULT hr) { return FAILED(hr) && (static_cast<std::uint32_t>(hr) >> 16) == 0x8007u; }
constexpr unsigned HRESULT_CODE(HRESULT hr) { return static_cast<std::uint32_t>(hr) & 0xFFFFu; }
