// The JSON commands for the table Brenvo owns, built from ports alone, read back as JSON.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "firewall/nft/nft_commands.h"

namespace {

using nlohmann::json;

json CommandsOf(const std::string& text) { return json::parse(text).at("nftables"); }

// How many commands are `verb` of a `kind` (a table, a chain, a rule...) for which `test`
// holds of the object.
template <class Test>
std::size_t Count(const json& commands, const char* verb, const char* kind, Test test) {
  std::size_t count = 0;
  for (const json& command : commands)
    if (command.contains(verb) && command[verb].contains(kind)) count += test(command[verb][kind]);
  return count;
}
std::size_t Count(const json& commands, const char* verb, const char* kind) {
  return Count(commands, verb, kind, [](const json&) { return true; });
}

// The rules added to `chain`, each as its list of expressions.
std::vector<json> RulesOf(const json& commands, const char* chain) {
  std::vector<json> rules;
  for (const json& command : commands)
    if (command.contains("add") && command["add"].contains("rule") && command["add"]["rule"]["chain"] == chain)
      rules.push_back(command["add"]["rule"]["expr"]);
  return rules;
}

bool IsInputHook(const json& chain) { return chain.value("hook", "") == "input" && chain["policy"] == "drop"; }

TEST(NftCommandsTest, OnlyEnforceablePortsBecomeElements) {
  struct Case {
    PortKey port;
    json element;  // null: refused
  };
  const Case cases[] = {
      {{1, 6}, {{"concat", json::array({"tcp", 1})}}},
      {{65535, 17}, {{"concat", json::array({"udp", 65535})}}},
      {{8080, 6}, {{"concat", json::array({"tcp", 8080})}}},
      {{0, 6}, nullptr},
      {{65536, 17}, nullptr},
      {{-80, 6}, nullptr},
      {{80, 1}, nullptr},
      {{80, 0}, nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.port.number) + "/" + std::to_string(c.port.protocol));
    for (bool open : {true, false}) {
      const auto command = nft::PortElementCommand(c.port, open);
      if (c.element.is_null()) {
        EXPECT_FALSE(command);
        continue;
      }
      ASSERT_TRUE(command);
      const json set = {{"family", "inet"}, {"table", "brenvo"}, {"name", "open_ports"}, {"elem", {c.element}}};
      EXPECT_EQ(CommandsOf(*command), json::array({{{open ? "add" : "delete", {{"element", set}}}}}));
    }
  }
}

TEST(NftCommandsTest, TheTableHoldsThePortsAlwaysAndTheChainOnlyWhileOn) {
  const json table = {{"family", "inet"}, {"name", "brenvo"}};
  for (const bool on : {false, true}) {
    SCOPED_TRACE(on ? "on" : "off");
    const auto bare = nft::ReplaceTableCommand(EnforcedState{on, {}, {}}, {});
    const auto full = nft::ReplaceTableCommand(EnforcedState{on, {{443, 6}, {53, 17}}, {}}, {});
    ASSERT_TRUE(bare && full);
    const json commands = CommandsOf(*full);
    // Added, deleted and added again, so that the delete succeeds whether or not it was there.
    EXPECT_EQ(commands[0], json({{"add", {{"table", table}}}}));
    EXPECT_EQ(commands[1], json({{"delete", {{"table", table}}}}));
    EXPECT_EQ(commands[2], json({{"add", {{"table", table}}}}));
    EXPECT_EQ(Count(commands, "add", "set"), 1u);
    EXPECT_EQ(Count(CommandsOf(*bare), "add", "element"), 0u);
    EXPECT_EQ(Count(commands, "add", "element",
                    [](const json& set) {
                      return set["elem"] == json::array({{{"concat", json::array({"tcp", 443})}},
                                                         {{"concat", json::array({"udp", 53})}}});
                    }),
              1u);
    EXPECT_EQ(Count(commands, "add", "chain", IsInputHook), on ? 1u : 0u);
    EXPECT_EQ(RulesOf(commands, "input").size(), on ? 6u : 0u);
    EXPECT_EQ(Count(commands, "add", "chain", [](const json& chain) { return chain["name"] == "drop_log"; }), 1u);
    // The elements are what the two commands differ by.
    json without = commands;
    without.erase(std::remove_if(without.begin(), without.end(),
                                 [](const json& command) {
                                   return command.contains("add") && command["add"].contains("element");
                                 }),
                  without.end());
    EXPECT_EQ(without, CommandsOf(*bare));
  }
  EXPECT_FALSE(nft::ReplaceTableCommand(EnforcedState{true, {{443, 6}, {0, 6}}, {}}, {true, true}));
}

TEST(NftCommandsTest, ASwitchAddsOrDeletesOnlyTheChain) {
  const json on = CommandsOf(nft::SwitchCommand(true));
  EXPECT_EQ(Count(on, "add", "chain", IsInputHook), 1u);
  EXPECT_EQ(Count(on, "flush", "chain"), 1u);  // so that switching on twice keeps one copy
  const std::vector<json> rules = RulesOf(on, "input");
  ASSERT_EQ(rules.size(), 6u);
  EXPECT_EQ(rules[4], json::array({{{"jump", {{"target", "authorized_apps"}}}}}));
  // Last, after the programs' verdicts had their chance: the copy of what is dropped.
  EXPECT_EQ(rules[5], json::array({{{"jump", {{"target", "drop_log"}}}}}));
  EXPECT_EQ(Count(on, "add", "table") + Count(on, "add", "set") + Count(on, "add", "element"), 0u);
  const json input = {{"family", "inet"}, {"table", "brenvo"}, {"name", "input"}};
  EXPECT_EQ(CommandsOf(nft::SwitchCommand(false)),
            json::array({{{"add", {{"chain", input}}}}, {{"delete", {{"chain", input}}}}}));
}

TEST(NftCommandsTest, ClosedTableIsMadeOnlyWhereThereIsNone) {
  const json commands = CommandsOf(nft::ClosedTableCommand());
  EXPECT_EQ(commands[0], json({{"create", {{"table", {{"family", "inet"}, {"name", "brenvo"}}}}}}));
  EXPECT_EQ(Count(commands, "add", "table") + Count(commands, "delete", "table"), 0u);
  EXPECT_EQ(Count(commands, "add", "chain", IsInputHook), 1u);
  EXPECT_EQ(Count(commands, "add", "element"), 0u);
  EXPECT_TRUE(RulesOf(commands, "authorized_apps").empty());
}

TEST(NftCommandsTest, NewFlowsGoToTheQueueOnlyWhileAnApplicationIsAuthorized) {
  const json toQueue = {{"goto", {{"target", "app_queue"}}}};
  const json queueRule = json::array({{{"queue", {{"num", 4151}}}}});
  const json socketFound = {
      {"match", {{"op", "=="}, {"left", {{"socket", {{"key", "transparent"}}}}}, {"right", {{"set", {0, 1}}}}}}};
  const std::string paths[] = {"/usr/bin/python3", R"(/opt/x"]}},{"flush":{"ruleset":null}})"};
  const json flush = {{"flush", {{"chain", {{"family", "inet"}, {"table", "brenvo"}, {"name", "authorized_apps"}}}}}};
  for (const bool statement : {true, false}) {
    // Only what a socket would receive asks for a verdict, where the kernel can tell.
    const nft::KernelFeatures kernel{.queueStatement = statement, .socketExpression = statement};
    SCOPED_TRACE(statement ? "with the queue statement and the socket expression" : "without");
    const json none = CommandsOf(nft::AuthorizedAppsCommand(false, kernel));
    const json some = CommandsOf(nft::AuthorizedAppsCommand(true, kernel));
    EXPECT_EQ(none, json::array({flush}));
    EXPECT_EQ(some[0], flush);
    const auto bare = nft::ReplaceTableCommand(EnforcedState{true, {}, {}}, kernel);
    const auto replaced = nft::ReplaceTableCommand(EnforcedState{false, {}, {paths[0], paths[1]}}, kernel);
    ASSERT_TRUE(bare && replaced);
    // The queue rule comes with the table, whether or not an application is enabled.
    for (const std::string* command : {&*bare, &*replaced}) {
      const json commands = CommandsOf(*command);
      EXPECT_EQ(Count(commands, "add", "chain", [](const json& chain) { return chain["name"] == "app_queue"; }), 1u);
      EXPECT_EQ(RulesOf(commands, "app_queue"), statement ? std::vector<json>{queueRule} : std::vector<json>{});
    }
    EXPECT_TRUE(RulesOf(CommandsOf(*bare), "authorized_apps").empty());
    EXPECT_EQ(RulesOf(CommandsOf(*replaced), "authorized_apps"), RulesOf(some, "authorized_apps"));
    for (const std::string& path : paths) EXPECT_EQ(replaced->find(path), std::string::npos);  // paths stay out

    const std::vector<json> rules = RulesOf(some, "authorized_apps");
    ASSERT_EQ(rules.size(), 3u);
    EXPECT_EQ(rules[0][0]["match"]["right"], "confirmed");
    EXPECT_EQ(rules[0][1], json({{"accept", nullptr}}));
    for (const json& rule : {rules[1], rules[2]}) {
      ASSERT_EQ(rule.size(), statement ? 4u : 3u);
      EXPECT_EQ(rule[0]["match"]["right"], "new");
      if (statement) EXPECT_EQ(rule[2], socketFound);
      EXPECT_EQ(rule.back(), toQueue);
    }
    EXPECT_EQ(rules[1][1]["match"]["left"]["&"][1], json::array({"syn", "ack"}));
    EXPECT_EQ(rules[1][1]["match"]["right"], "syn");
    EXPECT_EQ(rules[2][1]["match"]["right"], "udp");
  }
  EXPECT_EQ(RulesOf(CommandsOf(nft::QueueStatementProbeCommand()), "probe"), std::vector<json>{queueRule});
  const json socketProbe = CommandsOf(nft::SocketExpressionProbeCommand());
  EXPECT_EQ(RulesOf(socketProbe, "probe"), std::vector<json>{json::array({socketFound})});
  // A base chain that lets everything through, for the moment of the probe.
  EXPECT_EQ(Count(socketProbe, "add", "chain",
                  [](const json& chain) { return chain.value("hook", "") == "input" && chain["policy"] == "accept"; }),
            1u);
  EXPECT_EQ(socketProbe.back(), json({{"delete", {{"table", {{"family", "inet"}, {"name", "brenvo_probe"}}}}}}));
  // The switch leaves the programs' chains alone.
  EXPECT_EQ(nft::SwitchCommand(true).find("app_queue"), std::string::npos);
}

// As `nft -j list` shows the rules written, for TCP (UDP alike, with meta l4proto udp)
//   tcp flags & (syn | ack) == syn ct state new socket transparent 0 limit rate 25/second burst 50 packets log group
//   4151 tcp flags & (syn | ack) == syn ct state new socket transparent 0 return tcp flags & (syn | ack) == syn ct
//   state new limit rate 25/second burst 50 packets log group 4151
TEST(NftCommandsTest, TheDropLogCopiesTheFirstPacketOfNewFlowsAtALimitedRateListenedForOrNot) {
  const json chain = {{"family", "inet"}, {"table", "brenvo"}, {"name", "drop_log"}};
  const json newState = {{"match", {{"op", "in"}, {"left", {{"ct", {{"key", "state"}}}}}, {"right", "new"}}}};
  const json listening = {
      {"match", {{"op", "=="}, {"left", {{"socket", {{"key", "transparent"}}}}}, {"right", {{"set", {0, 1}}}}}}};
  const json limit = {{"limit", {{"rate", 25}, {"burst", 50}, {"per", "second"}}}};
  const json log = {{"log", {{"group", 4151}}}};
  const json back = {{"return", nullptr}};
  const json syn = {{"match",
                     {{"op", "=="},
                      {"left", {{"&", {{{"payload", {{"protocol", "tcp"}, {"field", "flags"}}}}, {"syn", "ack"}}}}},
                      {"right", "syn"}}}};
  const json udp = {{"match", {{"op", "=="}, {"left", {{"meta", {{"key", "l4proto"}}}}}, {"right", "udp"}}}};
  std::vector<json> bySocket, alone;
  for (const json& protocol : {syn, udp}) {
    bySocket.insert(bySocket.end(), {json::array({protocol, newState, listening, limit, log}),
                                     json::array({protocol, newState, listening, back}),
                                     json::array({protocol, newState, limit, log})});
    alone.push_back(json::array({protocol, newState, limit, log}));
  }
  for (const bool split : {true, false}) {
    const nft::KernelFeatures kernel{.socketExpression = split};
    const json commands = CommandsOf(nft::DropLogCommand(kernel));
    ASSERT_EQ(commands.size(), split ? 7u : 3u);
    EXPECT_EQ(commands[0], json({{"flush", {{"chain", chain}}}}));  // filled anew, never twice
    EXPECT_EQ(RulesOf(commands, "drop_log"), split ? bySocket : alone);
    // Nothing in it accepts or drops: the input chain's policy decides as before.
    EXPECT_EQ(nft::DropLogCommand(kernel).find("accept"), std::string::npos);
    EXPECT_EQ(nft::DropLogCommand(kernel).find("drop\""), std::string::npos);
  }
}

}  // namespace
