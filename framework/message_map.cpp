#include "framework/message_map.h"

namespace {

bool Matches(const MessageMapEntry& entry, UINT message, WPARAM wParam, LPARAM lParam) {
  if (entry.message != message) return false;
  switch (message) {
    case WM_COMMAND: return entry.id == LOWORD(wParam) && entry.code == UINT(HIWORD(wParam));
    case WM_NOTIFY: {
      const auto* header = reinterpret_cast<const NMHDR*>(lParam);
      return int(header->idFrom) == entry.id && header->code == entry.code;
    }
    default: return true;
  }
}

}  // namespace

const MessageMapEntry* FindMessageEntry(const MessageMap* map, UINT message, WPARAM wParam, LPARAM lParam) {
  for (; map; map = map->base) {
    for (const MessageMapEntry& entry : map->entries) {
      if (Matches(entry, message, wParam, lParam)) return &entry;
    }
  }
  return nullptr;
}
