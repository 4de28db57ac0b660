// The drop log's intake of the verdicts' refusals under a flood: limited as the kernel limits
// its copies of drops, and open again once the flood is over.
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sched.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <thread>

#include "firewall/verdicts/blocked_flows.h"
#include "firewall/verdicts/drop_log.h"
#include "firewall/verdicts/drop_log_group.h"

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

std::uint64_t Counted(const BlockedFlows& blocked) {
  std::uint64_t count = 0;
  for (const BlockedFlow& flow : blocked.List()) count += flow.count;
  return count;
}

// The count once it is at least `least` and has stopped changing, or as it is after 5 s.
std::uint64_t SettledCount(const BlockedFlows& blocked, std::uint64_t least) {
  std::uint64_t last = Counted(blocked);
  for (int tries = 0; tries < 50; ++tries) {
    std::this_thread::sleep_for(100ms);
    const std::uint64_t now = Counted(blocked);
    if (now >= least && now == last) break;
    last = now;
  }
  return Counted(blocked);
}

TEST(DropLogTest, AFloodOfRefusalsIsRecordedAtTheKernelsRateForCopiesAndTheNextOneAfterItIsRecorded) {
  BlockedFlows blocked;
  DropLog log(blocked);
  // As root, in a network namespace of its own, so that the host's group is left alone;
  // otherwise the group cannot be read, and the thread records the refusals alone.
  std::thread([&] {
    if (geteuid() == 0) ASSERT_EQ(unshare(CLONE_NEWNET), 0);
    (void)log.Serve();
  }).join();

  InboundFlow flow{AF_INET, IPPROTO_TCP};
  flow.localPort = 7000;
  const auto start = Clock::now();
  for (int i = 0; i < 20000; ++i) log.Refused(flow, false, 0, 0);
  const std::uint64_t flooded = SettledCount(blocked, kDropLogBurst);
  const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
  EXPECT_GE(flooded, static_cast<std::uint64_t>(kDropLogBurst));
  EXPECT_LE(flooded, kDropLogBurst + static_cast<std::uint64_t>(kDropLogRate * seconds) + 1);

  // A fifth of a second lets ten more through: the one that comes is recorded.
  std::this_thread::sleep_for(200ms);
  log.Refused(flow, false, 0, 0);
  EXPECT_EQ(SettledCount(blocked, flooded + 1), flooded + 1);
}

}  // namespace
