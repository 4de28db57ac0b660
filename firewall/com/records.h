#pragma once
// What the store keeps of an authorized application or an open port.
#include <optional>
#include <string>

#include "firewall/com/hresult.h"
#include "firewall/com/status.h"

// The two protocols a port can be opened for, by their IP protocol numbers.
inline constexpr LONG kProtocolTcp = 6;
inline constexpr LONG kProtocolUdp = 17;
// The numbers a port can have.
inline constexpr LONG kFirstPort = 1;
inline constexpr LONG kLastPort = 65535;

// An open port is known by its number and protocol.
struct PortKey {
  LONG number;
  LONG protocol;
  bool operator==(const PortKey&) const = default;
};

constexpr bool ValidPortNumber(LONG number) { return number >= kFirstPort && number <= kLastPort; }
constexpr bool ValidProtocol(LONG protocol) { return protocol == kProtocolTcp || protocol == kProtocolUdp; }
// Whether the firewall can enforce a port with this number and protocol; the refusal says why.
inline Status CheckPort(const PortKey& key) {
  if (!ValidProtocol(key.protocol))
    return InvalidArgument("protocol " + std::to_string(key.protocol) + " is neither TCP (6) nor UDP (17)");
  if (!ValidPortNumber(key.number))
    return InvalidArgument("port " + std::to_string(key.number) + " is outside 1 to 65535");
  return {};
}

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
