#include "firewall/service/nft_commands.h"

#include <charconv>

namespace nft {
namespace {

constexpr const char* kTableObject = R"({"family":"inet","name":"brenvo"})";
constexpr const char* kChainRef = R"("family":"inet","table":"brenvo","chain":"input")";
constexpr const char* kChainObject = R"({"family":"inet","table":"brenvo","name":"input"})";

void AppendNumber(std::string& out, long value) {
  char digits[24];
  const auto end = std::to_chars(digits, digits + sizeof digits, value).ptr;
  out.append(digits, end);
}

// The element of the port set for one port: protocol name, then port number.
bool AppendElement(std::string& out, const PortKey& port) {
  const char* protocol = port.protocol == 6 ? "tcp" : port.protocol == 17 ? "udp" : nullptr;
  if (!protocol || port.number < 1 || port.number > 65535) return false;
  out += R"({"concat":[")";
  out += protocol;
  out += R"(",)";
  AppendNumber(out, port.number);
  out += "]}";
  return true;
}

void AppendRule(std::string& out, const char* match) {
  out += R"(,{"add":{"rule":{)";
  out += kChainRef;
  out += R"(,"expr":[{"match":)";
  out += match;
  out += R"(},{"accept":null}]}}})";
}

// The input chain drops what no rule accepts: loopback, replies to connections this host
// made or accepted, the ICMPv6 messages that IPv6 needs to find neighbours and routers,
// and TCP or UDP to an open port. Flushed first, so that adding it again leaves one copy.
void AppendChain(std::string& out) {
  out += R"({"add":{"chain":{"family":"inet","table":"brenvo","name":"input",)"
         R"("type":"filter","hook":"input","prio":0,"policy":"drop"}}})";
  out += R"(,{"flush":{"chain":)";
  out += kChainObject;
  out += "}}";
  AppendRule(out, R"({"op":"==","left":{"meta":{"key":"iif"}},"right":"lo"})");
  AppendRule(out, R"({"op":"in","left":{"ct":{"key":"state"}},"right":["established","related"]})");
  AppendRule(out, R"({"op":"==","left":{"payload":{"protocol":"icmpv6","field":"type"}},)"
                  R"("right":{"set":["nd-neighbor-solicit","nd-neighbor-advert","nd-router-advert"]}})");
  AppendRule(out, R"({"op":"==","left":{"concat":[{"meta":{"key":"l4proto"}},)"
                  R"({"payload":{"protocol":"th","field":"dport"}}]},"right":"@open_ports"})");
}

void AppendElementHead(std::string& out, const char* verb) {
  out += R"({")";
  out += verb;
  out += R"(":{"element":{"family":"inet","table":"brenvo","name":"open_ports","elem":[)";
}

}  // namespace

std::optional<std::string> ReplaceTableCommand(const EnforcedState& state) {
  // Adding before deleting makes the delete succeed whether or not the table was there.
  std::string out = R"({"nftables":[{"add":{"table":)";
  out += kTableObject;
  out += R"(}},{"delete":{"table":)";
  out += kTableObject;
  out += R"(}},{"add":{"table":)";
  out += kTableObject;
  out += "}}";
  out += R"(,{"add":{"set":{"family":"inet","table":"brenvo","name":"open_ports",)"
         R"("type":["inet_proto","inet_service"]}}})";
  if (!state.openPorts.empty()) {
    out += ',';
    AppendElementHead(out, "add");
    for (std::size_t i = 0; i < state.openPorts.size(); ++i) {
      if (i) out += ',';
      if (!AppendElement(out, state.openPorts[i])) return std::nullopt;
    }
    out += "]}}}";
  }
  if (state.firewallOn) {
    out += ',';
    AppendChain(out);
  }
  out += "]}";
  return out;
}

std::string SwitchCommand(bool on) {
  std::string out = R"({"nftables":[)";
  if (on) {
    AppendChain(out);
  } else {
    // Adding before deleting makes the delete succeed whether or not the chain was there.
    out += R"({"add":{"chain":)";
    out += kChainObject;
    out += R"(}},{"delete":{"chain":)";
    out += kChainObject;
    out += "}}";
  }
  out += "]}";
  return out;
}

std::optional<std::string> PortElementCommand(const PortKey& port, bool open) {
  std::string out = R"({"nftables":[)";
  AppendElementHead(out, open ? "add" : "delete");
  if (!AppendElement(out, port)) return std::nullopt;
  out += "]}}}]}";
  return out;
}

std::string ProbeCommand() {
  return R"({"nftables":[{"add":{"table":{"family":"inet","name":"brenvo_probe"}}},)"
         R"({"delete":{"table":{"family":"inet","name":"brenvo_probe"}}}]})";
}

}  // namespace nft
