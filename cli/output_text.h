#pragma once
// Stored text as brenvoctl prints it: names and paths come from whoever changed the
// firewall, and must not steer the terminal that shows them.
#include <string>
#include <string_view>

// `text` (UTF-8) for a terminal: control characters (C0, DEL and C1), which could end a line
// or move the cursor, become \xNN or \u00NN, and a backslash becomes two.
std::string TerminalText(std::string_view text);

// "tcp", "udp" or "other": the name of an IP protocol number as brenvoctl prints it.
const char* ProtocolName(long protocol);
