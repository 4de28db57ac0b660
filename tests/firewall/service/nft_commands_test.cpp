// The JSON commands for the table Brenvo owns, built from ports alone.
#include <gtest/gtest.h>

#include "firewall/service/nft_commands.h"

namespace {

std::size_t Count(const std::string& text, const std::string& part) {
  std::size_t count = 0;
  for (std::size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++count;
  return count;
}

TEST(NftCommandsTest, OnlyEnforceablePortsBecomeElements) {
  struct Case {
    PortKey port;
    const char* element;  // null: refused
  };
  const Case cases[] = {
      {{1, 6}, R"({"concat":["tcp",1]})"},
      {{65535, 17}, R"({"concat":["udp",65535]})"},
      {{8080, 6}, R"({"concat":["tcp",8080]})"},
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
      if (!c.element) {
        EXPECT_FALSE(command);
        continue;
      }
      ASSERT_TRUE(command);
      EXPECT_EQ(*command, std::string(R"({"nftables":[{")") + (open ? "add" : "delete") +
                              R"(":{"element":{"family":"inet","table":"brenvo","name":"open_ports","elem":[)" +
                              c.element + "]}}}]}");
    }
  }
}

TEST(NftCommandsTest, TheTableHoldsThePortsAlwaysAndTheChainOnlyWhileOn) {
  const std::string elements = R"({"add":{"element":{"family":"inet","table":"brenvo",)"
                               R"("name":"open_ports","elem":[{"concat":["tcp",443]},{"concat":["udp",53]}]}}})";
  for (const bool on : {false, true}) {
    SCOPED_TRACE(on ? "on" : "off");
    const auto bare = nft::ReplaceTableCommand(EnforcedState{on, {}, {}}, false);
    const auto full = nft::ReplaceTableCommand(EnforcedState{on, {{443, 6}, {53, 17}}, {}}, false);
    ASSERT_TRUE(bare && full);
    EXPECT_EQ(Count(*full, R"("table":{"family":"inet","name":"brenvo"})"), 3u);  // add, delete, add
    EXPECT_EQ(Count(*full, R"({"add":{"set":)"), 1u);
    EXPECT_EQ(Count(*bare, R"("element")"), 0u);
    EXPECT_EQ(Count(*full, elements), 1u);
    EXPECT_EQ(Count(*full, R"("hook":"input","prio":0,"policy":"drop")"), on ? 1u : 0u);
    EXPECT_EQ(Count(*full, R"({"add":{"rule":)"), on ? 5u : 0u);
    // The elements are what the two commands differ by.
    const std::size_t at = full->find(elements);
    EXPECT_EQ(full->substr(0, at - 1) + full->substr(at + elements.size()), *bare);
  }
  EXPECT_FALSE(nft::ReplaceTableCommand(EnforcedState{true, {{443, 6}, {0, 6}}, {}}, true));
}

TEST(NftCommandsTest, ASwitchAddsOrDeletesOnlyTheChain) {
  const std::string on = nft::SwitchCommand(true);
  EXPECT_EQ(Count(on, R"("hook":"input","prio":0,"policy":"drop")"), 1u);
  EXPECT_EQ(Count(on, R"({"flush":{"chain":)"), 1u);  // so that switching on twice keeps one copy
  EXPECT_EQ(Count(on, R"({"add":{"rule":)"), 5u);
  EXPECT_EQ(Count(on, R"({"jump":{"target":"authorized_apps"}})"), 1u);
  EXPECT_EQ(Count(on, R"({"add":{"table":)"), 0u);
  EXPECT_EQ(Count(on, R"({"add":{"set":)"), 0u);
  EXPECT_EQ(Count(on, R"("element")"), 0u);
  EXPECT_EQ(nft::SwitchCommand(false),
            R"({"nftables":[{"add":{"chain":{"family":"inet","table":"brenvo","name":"input"}}},)"
            R"({"delete":{"chain":{"family":"inet","table":"brenvo","name":"input"}}}]})");
}

TEST(NftCommandsTest, NewFlowsGoToTheQueueOnlyWhileAnApplicationIsAuthorized) {
  const std::string toQueue = R"({"goto":{"target":"app_queue"}})";
  const std::string queue = R"({"add":{"rule":{"family":"inet","table":"brenvo","chain":"app_queue",)"
                            R"("expr":[{"queue":{"num":4151}}]}}})";
  const std::string paths[] = {"/usr/bin/python3", R"(/opt/x"]}},{"flush":{"ruleset":null}})"};
  const std::string none = nft::AuthorizedAppsCommand(false);
  const std::string some = nft::AuthorizedAppsCommand(true);
  EXPECT_EQ(none, R"({"nftables":[{"flush":{"chain":{"family":"inet","table":"brenvo","name":"authorized_apps"}}}]})");
  EXPECT_EQ(some.find(none.substr(0, none.size() - 2)), 0u);
  for (const bool statement : {true, false}) {
    SCOPED_TRACE(statement ? "with the queue statement" : "without");
    const auto bare = nft::ReplaceTableCommand(EnforcedState{true, {}, {}}, statement);
    const auto replaced = nft::ReplaceTableCommand(EnforcedState{false, {}, {paths[0], paths[1]}}, statement);
    ASSERT_TRUE(bare && replaced);
    // The queue rule comes with the table, whether or not an application is enabled.
    for (const std::string* command : {&*bare, &*replaced}) {
      EXPECT_EQ(Count(*command, R"({"add":{"chain":{"family":"inet","table":"brenvo","name":"app_queue"}}})"), 1u);
      EXPECT_EQ(Count(*command, queue), statement ? 1u : 0u);
    }
    EXPECT_EQ(Count(*bare, toQueue), 0u);
    EXPECT_EQ(Count(*replaced, some.substr(some.find(R"({"add")"), some.size() - some.find(R"({"add")") - 2)), 1u);
    for (const std::string& path : paths) EXPECT_EQ(replaced->find(path), std::string::npos);  // paths stay out
  }
  EXPECT_EQ(Count(some, toQueue), 2u);
  EXPECT_EQ(Count(some, R"({"ct":{"key":"status"}},"right":"confirmed"}},{"accept":null})"), 1u);
  EXPECT_EQ(Count(some, R"("right":"new")"), 2u);
  EXPECT_EQ(Count(some, R"(["syn","ack"]]},"right":"syn")"), 1u);
  EXPECT_EQ(Count(some, R"({"meta":{"key":"l4proto"}},"right":"udp")"), 1u);
  EXPECT_EQ(Count(nft::QueueStatementProbeCommand(), R"({"queue":{"num":4151}})"), 1u);
  // The switch leaves the programs' chains alone.
  EXPECT_EQ(Count(nft::SwitchCommand(true), "app_queue"), 0u);
}

}  // namespace
