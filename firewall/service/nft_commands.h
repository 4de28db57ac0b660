#pragma once
// The nftables commands of the table Brenvo owns, `inet brenvo`, as JSON. Only numbers and fixed words
// go into them, never a name or a path, so stored text cannot become a rule.
#include <optional>
#include <string>

#include "firewall/service/enforcer.h"

namespace nft {

// Drops the table if present and builds it again, all in one transaction: the set of
// `state`'s open ports always, the input chain only while the firewall is on. Empty when a
// port is out of range or not TCP or UDP.
std::optional<std::string> ReplaceTableCommand(const EnforcedState& state);

// Adds the input chain (on) or deletes it (off). The port set stays loaded either way, so
// switching costs the same however many ports are open.
std::string SwitchCommand(bool on);

// Adds (open) or deletes (closed) one port's element of the port set, whether the firewall
// is on or off. Empty when the port
// is out of range or not TCP or UDP.
std::optional<std::string> PortElementCommand(const PortKey& port, bool open);

// Makes and drops a scratch table in one transaction: it succeeds exactly where this
// process may change the kernel firewall, and leaves nothing behind.
std::string ProbeCommand();

}  // namespace nft
