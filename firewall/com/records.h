#pragma once
// What the store keeps of an authorized application or an open port.
#include <optional>
#include <string>

#include "firewall/com/hresult.h"

// An open port is known by its number and protocol (6 TCP, 17 UDP).
struct PortKey {
  LONG number;
  LONG protocol;
  bool operator==(const PortKey&) const = default;
};

// An authorized application is known by the image path of its executable.
using AppKey = std::u16string;

template <class Key>
struct EntryRecord {
  Key key;
  std::u16string name;
  bool enabled = true;
};
using AppRecord = EntryRecord<AppKey>;
using PortRecord = EntryRecord<PortKey>;

// A change to a stored entry; what is left empty stays as it is.
struct EntryChange {
  std::optional<std::u16string> name;
  std::optional<bool> enabled;
};
