#include "firewall/service/nft_commands.h"

#include <charconv>
#include <string_view>

namespace nft {
namespace {

constexpr const char* kTableObject = R"({"family":"inet","name":"brenvo"})";
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

// Starts the next command of the list.
void NextCommand(std::string& out) {
  if (out.back() != '[') out += ',';
}

void AppendChainCommand(std::string& out, const char* verb, const char* chain) {
  NextCommand(out);
  out += R"({")";
  out += verb;
  out += R"(":{"chain":{"family":"inet","table":"brenvo","name":")";
  out += chain;
  out += R"("}}})";
}

void AppendRule(std::string& out, const char* chain, std::string_view expressions) {
  NextCommand(out);
  out += R"({"add":{"rule":{"family":"inet","table":"brenvo","chain":")";
  out += chain;
  out += R"(","expr":[)";
  out += expressions;
  out += "]}}}";
}

void AppendAcceptRule(std::string& out, std::string_view match) {
  AppendRule(out, "input", std::string(R"({"match":)").append(match).append(R"(},{"accept":null})"));
}

// The input chain drops what no rule accepts: loopback, replies to connections this host
// made or accepted, the ICMPv6 messages that IPv6 needs to find neighbours and routers,
// TCP or UDP to an open port, and what the authorized applications' verdicts accept.
// Flushed first, so that adding it again leaves one copy.
void AppendChain(std::string& out) {
  out += R"({"add":{"chain":{"family":"inet","table":"brenvo","name":"input",)"
         R"("type":"filter","hook":"input","prio":0,"policy":"drop"}}})";
  out += R"(,{"flush":{"chain":)";
  out += kChainObject;
  out += "}}";
  AppendAcceptRule(out, R"({"op":"==","left":{"meta":{"key":"iif"}},"right":"lo"})");
  AppendAcceptRule(out, R"({"op":"in","left":{"ct":{"key":"state"}},"right":["established","related"]})");
  AppendAcceptRule(out, R"({"op":"==","left":{"payload":{"protocol":"icmpv6","field":"type"}},)"
                        R"("right":{"set":["nd-neighbor-solicit","nd-neighbor-advert","nd-router-advert"]}})");
  AppendAcceptRule(out, R"({"op":"==","left":{"concat":[{"meta":{"key":"l4proto"}},)"
                        R"({"payload":{"protocol":"th","field":"dport"}}]},"right":"@open_ports"})");
  AppendRule(out, "input", R"({"jump":{"target":"authorized_apps"}})");
}

// Fills the chain authorized_apps anew.
void AppendAppRules(std::string& out, bool any) {
  AppendChainCommand(out, "flush", "authorized_apps");
  if (!any) return;
  // A flow whose first packet got through, and so was confirmed, asks no more: a UDP flow
  // stays "new" until it is answered, and one that never is would ask at every datagram.
  AppendRule(out, "authorized_apps",
             R"({"match":{"op":"in","left":{"ct":{"key":"status"}},"right":"confirmed"}},{"accept":null})");
  constexpr std::string_view kNew = R"({"match":{"op":"in","left":{"ct":{"key":"state"}},"right":"new"}},)";
  constexpr std::string_view kToQueue = R"(,{"goto":{"target":"app_queue"}})";
  AppendRule(out, "authorized_apps",
             std::string(kNew)
                 .append(R"({"match":{"op":"==","left":{"&":[{"payload":{"protocol":"tcp","field":"flags"}},)"
                         R"(["syn","ack"]]},"right":"syn"}})")
                 .append(kToQueue));
  AppendRule(out, "authorized_apps",
             std::string(kNew)
                 .append(R"({"match":{"op":"==","left":{"meta":{"key":"l4proto"}},"right":"udp"}})")
                 .append(kToQueue));
}

void AppendElementHead(std::string& out, const char* verb) {
  out += R"({")";
  out += verb;
  out += R"(":{"element":{"family":"inet","table":"brenvo","name":"open_ports","elem":[)";
}

// The table's contents for `state`, after the commands that make the table.
std::optional<std::string> AppendTable(std::string out, const EnforcedState& state, bool queueStatement) {
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
  AppendChainCommand(out, "add", "authorized_apps");
  AppendChainCommand(out, "add", kAppQueueChain);
  if (queueStatement) {
    // No "bypass" flag: while no one reads the queue, the kernel drops what it queues.
    std::string queue = R"({"queue":{"num":)";
    AppendNumber(queue, kAppQueue);
    AppendRule(out, kAppQueueChain, queue.append("}}"));
  }
  AppendAppRules(out, !state.authorizedPaths.empty());
  if (state.firewallOn) {
    out += ',';
    AppendChain(out);
  }
  out += "]}";
  return out;
}

}  // namespace

std::optional<std::string> ReplaceTableCommand(const EnforcedState& state, bool queueStatement) {
  // Adding before deleting makes the delete succeed whether or not the table was there.
  std::string out = R"({"nftables":[{"add":{"table":)";
  out += kTableObject;
  out += R"(}},{"delete":{"table":)";
  out += kTableObject;
  out += R"(}},{"add":{"table":)";
  out += kTableObject;
  out += "}}";
  return AppendTable(std::move(out), state, queueStatement);
}

std::string ClosedTableCommand() {
  // "create" fails where the table exists, and with it the whole transaction.
  std::string out = R"({"nftables":[{"create":{"table":)";
  out += kTableObject;
  out += "}}";
  return *AppendTable(std::move(out), EnforcedState{true, {}, {}}, false);
}

std::string ListTableCommand() {
  std::string out = R"({"nftables":[{"list":{"table":)";
  out += kTableObject;
  return out + "}}]}";
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

std::string AuthorizedAppsCommand(bool any) {
  std::string out = R"({"nftables":[)";
  AppendAppRules(out, any);
  out += "]}";
  return out;
}

std::string QueueStatementProbeCommand() {
  std::string out = R"({"nftables":[{"add":{"table":{"family":"inet","name":"brenvo_probe"}}},)"
                    R"({"add":{"chain":{"family":"inet","table":"brenvo_probe","name":"queue"}}},)"
                    R"({"add":{"rule":{"family":"inet","table":"brenvo_probe","chain":"queue","expr":[)"
                    R"({"queue":{"num":)";
  AppendNumber(out, kAppQueue);
  out += R"(}}]}}},{"delete":{"table":{"family":"inet","name":"brenvo_probe"}}}]})";
  return out;
}

std::string ProbeCommand() {
  return R"({"nftables":[{"add":{"table":{"family":"inet","name":"brenvo_probe"}}},)"
         R"({"delete":{"table":{"family":"inet","name":"brenvo_probe"}}}]})";
}

}  // namespace nft
