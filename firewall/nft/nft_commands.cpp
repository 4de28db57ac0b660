#include "firewall/nft/nft_commands.h"

#include <nlohmann/json.hpp>

#include <utility>

namespace nft {
namespace {

// Beware: nlohmann reads a braced pair whose first member is text as an object's member, so
// two-element arrays are written as json::array.
using nlohmann::json;

json Table() { return {{"family", "inet"}, {"name", "brenvo"}}; }
json Chain(const char* name) { return {{"family", "inet"}, {"table", "brenvo"}, {"name", name}}; }
json PortSet() { return {{"family", "inet"}, {"table", "brenvo"}, {"name", "open_ports"}}; }
json Command(const char* verb, const char* kind, json object) { return {{verb, {{kind, std::move(object)}}}}; }
json Commands(json list) { return {{"nftables", std::move(list)}}; }

// The element of the port set for one port: protocol name, then port number.
std::optional<json> Element(const PortKey& port) {
  if (!CheckPort(port).ok()) return std::nullopt;
  const char* protocol = port.protocol == kProtocolTcp ? "tcp" : "udp";
  return json{{"concat", json::array({protocol, port.number})}};
}

json Rule(const char* chain, json expressions) {
  return Command("add", "rule",
                 {{"family", "inet"}, {"table", "brenvo"}, {"chain", chain}, {"expr", std::move(expressions)}});
}

json Match(const char* op, json left, json right) {
  return {{"match", {{"op", op}, {"left", std::move(left)}, {"right", std::move(right)}}}};
}

json Accept() { return {{"accept", nullptr}}; }

// A local socket would receive the packet: one is found, a transparent proxy's or not.
json SocketFound() { return Match("==", {{"socket", {{"key", "transparent"}}}}, {{"set", json::array({0, 1})}}); }

// The input chain drops what no rule accepts: loopback, replies to connections this host
// made or accepted, the ICMPv6 messages that IPv6 needs to find neighbours and routers,
// TCP or UDP to an open port, and what the authorized applications' verdicts accept.
// Flushed first, so that adding it again leaves one copy.
void AppendChain(json& commands) {
  json input = Chain("input");
  input.update({{"type", "filter"}, {"hook", "input"}, {"prio", 0}, {"policy", "drop"}});
  commands.push_back(Command("add", "chain", std::move(input)));
  commands.push_back(Command("flush", "chain", Chain("input")));
  const auto accept = [&](json match) { commands.push_back(Rule("input", {std::move(match), Accept()})); };
  accept(Match("==", {{"meta", {{"key", "iif"}}}}, "lo"));
  accept(Match("in", {{"ct", {{"key", "state"}}}}, json::array({"established", "related"})));
  accept(Match("==", {{"payload", {{"protocol", "icmpv6"}, {"field", "type"}}}},
               {{"set", {"nd-neighbor-solicit", "nd-neighbor-advert", "nd-router-advert"}}}));
  accept(Match(
      "==", {{"concat", {{{"meta", {{"key", "l4proto"}}}}, {{"payload", {{"protocol", "th"}, {"field", "dport"}}}}}}},
      "@open_ports"));
  commands.push_back(Rule("input", {{{"jump", {{"target", "authorized_apps"}}}}}));
  commands.push_back(Rule("input", {{{"jump", {{"target", kDropLogChain}}}}}));
}

// Fills the chain authorized_apps anew.
void AppendAppRules(json& commands, bool any, const KernelFeatures& kernel) {
  commands.push_back(Command("flush", "chain", Chain("authorized_apps")));
  if (!any) return;
  // A flow whose first packet got through, and so was confirmed, asks no more: a UDP flow
  // stays "new" until it is answered, and one that never is would ask at every datagram.
  commands.push_back(Rule("authorized_apps", {Match("in", {{"ct", {{"key", "status"}}}}, "confirmed"), Accept()}));
  const json fresh = Match("in", {{"ct", {{"key", "state"}}}}, "new");
  const json syn = Match(
      "==", {{"&", {{{"payload", {{"protocol", "tcp"}, {"field", "flags"}}}}, json::array({"syn", "ack"})}}}, "syn");
  const json udp = Match("==", {{"meta", {{"key", "l4proto"}}}}, "udp");
  for (const json& protocol : {syn, udp}) {
    json rule = {fresh, protocol};
    if (kernel.socketExpression) rule.push_back(SocketFound());
    rule.push_back({{"goto", {{"target", "app_queue"}}}});
    commands.push_back(Rule("authorized_apps", std::move(rule)));
  }
}

// The table's contents for `state`, after the commands in `commands` that make the table.
std::optional<std::string> WithTable(json commands, const EnforcedState& state, const KernelFeatures& kernel) {
  json set = PortSet();
  set["type"] = json::array({"inet_proto", "inet_service"});
  commands.push_back(Command("add", "set", std::move(set)));
  if (!state.openPorts.empty()) {
    json elements = json::array();
    for (const PortKey& port : state.openPorts) {
      std::optional<json> element = Element(port);
      if (!element) return std::nullopt;
      elements.push_back(*std::move(element));
    }
    json portSet = PortSet();
    portSet["elem"] = std::move(elements);
    commands.push_back(Command("add", "element", std::move(portSet)));
  }
  commands.push_back(Command("add", "chain", Chain("authorized_apps")));
  commands.push_back(Command("add", "chain", Chain(kAppQueueChain)));
  commands.push_back(Command("add", "chain", Chain(kDropLogChain)));
  // No "bypass" flag: while no one reads the queue, the kernel drops what it queues.
  if (kernel.queueStatement) commands.push_back(Rule(kAppQueueChain, {{{"queue", {{"num", kAppQueue}}}}}));
  AppendAppRules(commands, !state.authorizedPaths.empty(), kernel);
  if (state.firewallOn) AppendChain(commands);
  return Commands(std::move(commands)).dump();
}

}  // namespace

std::optional<std::string> ReplaceTableCommand(const EnforcedState& state, const KernelFeatures& kernel) {
  // Adding before deleting makes the delete succeed whether or not the table was there.
  return WithTable(
      {Command("add", "table", Table()), Command("delete", "table", Table()), Command("add", "table", Table())}, state,
      kernel);
}

std::string ClosedTableCommand() {
  // "create" fails where the table exists, and with it the whole transaction.
  return *WithTable({Command("create", "table", Table())}, EnforcedState{true, {}, {}}, {});
}

std::string ListTableCommand() { return Commands({Command("list", "table", Table())}).dump(); }

std::string SwitchCommand(bool on) {
  json commands = json::array();
  if (on) {
    AppendChain(commands);
  } else {
    // Adding before deleting makes the delete succeed whether or not the chain was there.
    commands = {Command("add", "chain", Chain("input")), Command("delete", "chain", Chain("input"))};
  }
  return Commands(std::move(commands)).dump();
}

std::optional<std::string> PortElementCommand(const PortKey& port, bool open) {
  std::optional<json> element = Element(port);
  if (!element) return std::nullopt;
  json portSet = PortSet();
  portSet["elem"] = {*std::move(element)};
  return Commands({Command(open ? "add" : "delete", "element", std::move(portSet))}).dump();
}

std::string AuthorizedAppsCommand(bool any, const KernelFeatures& kernel) {
  json commands = json::array();
  AppendAppRules(commands, any, kernel);
  return Commands(std::move(commands)).dump();
}

std::string DropLogCommand(const KernelFeatures& kernel) {
  json commands = {Command("flush", "chain", Chain(kDropLogChain))};
  const json fresh = Match("in", {{"ct", {{"key", "state"}}}}, "new");
  // Half of the rate and burst for each protocol.
  const json limit = {{"limit", {{"rate", kDropLogRate / 2}, {"per", "second"}, {"burst", kDropLogBurst / 2}}}};
  const json log = {{"log", {{"group", kDropLogGroup}}}};
  const json protocols[] = {
      Match("==", {{"&", {{{"payload", {{"protocol", "tcp"}, {"field", "flags"}}}}, json::array({"syn", "ack"})}}},
            "syn"),
      Match("==", {{"meta", {{"key", "l4proto"}}}}, "udp")};
  for (const json& protocol : protocols) {
    // Flows that a program listens for have a budget of their own, so that a scan of closed
    // ports cannot use it up: they are the ones the user is told of.
    if (kernel.socketExpression) {
      commands.push_back(Rule(kDropLogChain, {protocol, fresh, SocketFound(), limit, log}));
      commands.push_back(Rule(kDropLogChain, {protocol, fresh, SocketFound(), {{"return", nullptr}}}));
    }
    commands.push_back(Rule(kDropLogChain, {protocol, fresh, limit, log}));
  }
  return Commands(std::move(commands)).dump();
}

namespace {

// Makes a scratch table whose chain `chain` (in its `hook` where not null) holds one rule of
// `expressions`, and drops it, in one transaction.
std::string RuleProbe(const char* hook, json expressions) {
  const json probe = {{"family", "inet"}, {"name", "brenvo_probe"}};
  json chain = {{"family", "inet"}, {"table", "brenvo_probe"}, {"name", "probe"}};
  json rule = {{"family", "inet"}, {"table", "brenvo_probe"}, {"chain", "probe"}, {"expr", std::move(expressions)}};
  if (hook) chain.update({{"type", "filter"}, {"hook", hook}, {"prio", 0}, {"policy", "accept"}});
  return Commands({Command("add", "table", probe), Command("add", "chain", chain), Command("add", "rule", rule),
                   Command("delete", "table", probe)})
      .dump();
}

}  // namespace

std::string QueueStatementProbeCommand() { return RuleProbe(nullptr, {{{"queue", {{"num", kAppQueue}}}}}); }

// In a base chain of the input hook, where the kernel checks that the expression may stand.
std::string SocketExpressionProbeCommand() { return RuleProbe("input", {SocketFound()}); }

std::string ProbeCommand() {
  const json probe = {{"family", "inet"}, {"name", "brenvo_probe"}};
  return Commands({Command("add", "table", probe), Command("delete", "table", probe)}).dump();
}

}  // namespace nft
