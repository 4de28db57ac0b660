#pragma once
// The blocked connections as `brenvoctl blocked` prints them: a line of text per block, or a
// JSON object.
#include <nlohmann/json.hpp>

#include <string>

#include "firewall/com/blocked_flow.h"

// The last time (local), program path, pid, user, protocol, local port, remote address and
// count, with "-" for what is not known and the path made safe for a terminal.
std::string BlockedLine(const BlockedFlow& flow);
// The same with times in ISO 8601 UTC, the uid beside the user's name, the first time, the
// remote port and whether a program listened; null for what is not known.
nlohmann::ordered_json BlockedJson(const BlockedFlow& flow);
