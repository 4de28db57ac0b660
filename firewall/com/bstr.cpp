#include "firewall/com/bstr.h"

#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <cstring>

namespace {

std::atomic<std::size_t> g_inUse{0};

// The prefix holds the length in bytes, as the platform's strings do.
std::uint32_t* PrefixOf(BSTR text) {
  return reinterpret_cast<std::uint32_t*>(reinterpret_cast<char*>(text) - sizeof(std::uint32_t));
}

}  // namespace

BSTR SysAllocStringLen(const OLECHAR* text, UINT length) {
  const std::size_t bytes = std::size_t{length} * sizeof(OLECHAR);
  if (bytes > UINT32_MAX - sizeof(OLECHAR)) return nullptr;
  auto* block = static_cast<char*>(std::malloc(sizeof(std::uint32_t) + bytes + sizeof(OLECHAR)));
  if (!block) return nullptr;
  const auto prefix = static_cast<std::uint32_t>(bytes);
  std::memcpy(block, &prefix, sizeof prefix);
  BSTR result = reinterpret_cast<BSTR>(block + sizeof(std::uint32_t));
  if (text)
    std::memcpy(result, text, bytes);
  else
    std::memset(result, 0, bytes);
  result[length] = u'\0';
  ++g_inUse;
  return result;
}

BSTR SysAllocString(const OLECHAR* text) {
  if (!text) return nullptr;
  UINT length = 0;
  while (text[length] != u'\0') ++length;
  return SysAllocStringLen(text, length);
}

UINT SysStringLen(BSTR text) {
  if (!text) return 0;
  std::uint32_t bytes;
  std::memcpy(&bytes, PrefixOf(text), sizeof bytes);
  return bytes / sizeof(OLECHAR);
}

void SysFreeString(BSTR text) {
  if (!text) return;
  --g_inUse;
  std::free(PrefixOf(text));
}

std::size_t SysStringsInUse() { return g_inUse.load(); }
