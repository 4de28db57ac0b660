// The record of blocked flows: merging, its bound, its order and its once-a-minute signals,
// on a clock of the test's own.
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <chrono>

#include "firewall/verdicts/blocked_flows.h"

namespace {

using namespace std::chrono_literals;
using Time = std::chrono::system_clock::time_point;

InboundFlow Flow(std::uint8_t protocol, std::uint16_t port, std::uint8_t remote = 2) {
  InboundFlow flow{AF_INET, protocol};
  flow.localPort = port;
  flow.remoteAddress = {10, 0, 0, remote};
  flow.remotePort = 40000;
  return flow;
}

const BlockedHolder kNobody{};
const BlockedHolder kServer{true, "/usr/bin/server", 42, 1000};

class BlockedFlowsTest : public ::testing::Test {
 protected:
  Time m_now = Time(1000h);
  BlockedFlows m_blocked{[this] { return m_now; }};
};

TEST_F(BlockedFlowsTest, BlocksMergeByProgramUserProtocolAndPortAndSignalAtMostOnceAMinute) {
  std::vector<BlockedFlow> heard;
  m_blocked.SetListener([&](const BlockedFlow& flow) { heard.push_back(flow); });
  EXPECT_TRUE(m_blocked.Record(Flow(IPPROTO_TCP, 80), kServer));
  m_now += 30s;
  EXPECT_FALSE(m_blocked.Record(Flow(IPPROTO_TCP, 80, 3), {true, "/usr/bin/server", 43, 1000}));
  // Another protocol, port, program, user, or nothing listening: entries of their own.
  EXPECT_TRUE(m_blocked.Record(Flow(IPPROTO_UDP, 80), kServer));
  EXPECT_TRUE(m_blocked.Record(Flow(IPPROTO_TCP, 80), {true, "/usr/bin/server", 45, 1001}));
  EXPECT_TRUE(m_blocked.Record(Flow(IPPROTO_TCP, 81), kServer));
  EXPECT_TRUE(m_blocked.Record(Flow(IPPROTO_TCP, 80), {true, "/usr/bin/other", 44, 1000}));
  EXPECT_TRUE(m_blocked.Record(Flow(IPPROTO_TCP, 80), kNobody));
  // A holder whose program is not known is not one where nothing listened.
  EXPECT_TRUE(m_blocked.Record(Flow(IPPROTO_TCP, 80), {true, "", 0, 1000}));
  EXPECT_EQ(heard.size(), 7u);

  m_now += 29s;  // 59 s after the first signal
  EXPECT_FALSE(m_blocked.Record(Flow(IPPROTO_TCP, 80), kServer));
  m_now += 1s;
  EXPECT_TRUE(m_blocked.Record(Flow(IPPROTO_TCP, 80, 4), kServer));
  EXPECT_FALSE(m_blocked.Record(Flow(IPPROTO_TCP, 80), kServer));
  // A clock set back does not silence an entry until it catches up.
  m_now -= 1h;
  EXPECT_TRUE(m_blocked.Record(Flow(IPPROTO_TCP, 80), kServer));

  const std::vector<BlockedFlow> list = m_blocked.List();
  ASSERT_EQ(list.size(), 7u);
  const BlockedFlow& server = list.front();
  EXPECT_EQ(server.holder, kServer);
  EXPECT_EQ(server.count, 6u);
  EXPECT_EQ(server.first, Time(1000h));
  EXPECT_EQ(server.last, m_now);
  EXPECT_EQ(server.remoteAddress[3], 2);
  EXPECT_EQ(heard.size(), 9u);
  EXPECT_EQ(heard.back().count, 6u);
  EXPECT_EQ(heard[7].remoteAddress[3], 4);  // the one that was signalled, as it was then
}

TEST_F(BlockedFlowsTest, TheRecordIsBoundedAndTheEntryBlockedLongestAgoLeavesFirst) {
  for (std::uint16_t port = 1; port <= kMostBlocked; ++port) {
    m_now += 1s;
    m_blocked.Record(Flow(IPPROTO_TCP, port), kNobody);
  }
  // Port 1, blocked again, is the newest; port 2 is now the oldest and leaves for the next.
  m_blocked.Record(Flow(IPPROTO_TCP, 1), kNobody);
  EXPECT_TRUE(m_blocked.Record(Flow(IPPROTO_UDP, 1), kNobody));
  std::vector<BlockedFlow> list = m_blocked.List();
  ASSERT_EQ(list.size(), kMostBlocked);
  EXPECT_EQ(list[0].protocol, IPPROTO_UDP);
  EXPECT_EQ(list[1].localPort, 1);
  EXPECT_EQ(list[1].count, 2u);
  EXPECT_EQ(list[2].localPort, kMostBlocked);
  EXPECT_EQ(list.back().localPort, 3);

  // The port that left comes back as new, counted afresh.
  EXPECT_TRUE(m_blocked.Record(Flow(IPPROTO_TCP, 2), kNobody));
  list = m_blocked.List();
  EXPECT_EQ(list.size(), kMostBlocked);
  EXPECT_EQ(list.front().count, 1u);
  EXPECT_EQ(list.back().localPort, 4);
}

}  // namespace
