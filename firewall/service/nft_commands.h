#pragma once
// The nftables commands of the table Brenvo owns, `inet brenvo`, as JSON. Only numbers and fixed words
// go into them, never a name or a path, so stored text cannot become a rule.
#include <optional>
#include <string>

#include "firewall/service/enforcer.h"

namespace nft {

// Drops the table if present and, while the firewall is on, builds it again with `state`'s
// ports, all in one transaction. Empty when a port is out of range or not TCP or UDP.
std::optional<std::string> ReplaceTableCommand(const EnforcedState& state);

// Adds (open) or deletes (closed) one port's element of the port set. Empty when the port
// is out of range or not TCP or UDP.
std::optional<std::string> PortElementCommand(const PortKey& port, bool open);

// Makes and drops a scratch table in one transaction: it succeeds exactly where this
// process may change the kernel firewall, and leaves nothing behind.
std::string ProbeCommand();

}  // namespace nft
