// The record of blocked flows kept by the firewall of this process, on, in namespace A, fed
// by the copy of the input chain's drops and by the verdicts on authorized programs, while a
// peer in namespace B connects. Needs root; skips with the reason where it cannot run.
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <functional>
#include <memory>
#include <ostream>
#include <thread>

#include "firewall/verdicts/app_queue.h"
#include "firewall/verdicts/blocked_flows.h"
#include "firewall/verdicts/drop_log_group.h"
#include "tests/integration/app_verdicts/verdicts_world.h"
#include "tests/integration/support/sockets.h"

// For failures: the holder in words.
void PrintTo(const BlockedHolder& holder, std::ostream* out) {
  *out << (holder.listening ? "listened by \"" + holder.program + "\"" : std::string("nothing listening")) << " pid "
       << holder.pid << " uid " << holder.uid;
}

namespace {

using namespace std::chrono_literals;

constexpr const char* kA = NetnsPair::kAddressA;
constexpr uid_t kNobody = 65534;

class BlockedFlowsTest : public VerdictsWorld {
 protected:
  void SetUp() override {
    VerdictsWorld::SetUp();
    if (IsSkipped() || HasFatalFailure()) return;
    // The servers run as nobody.
    ASSERT_EQ(chmod(m_dir.File("").c_str(), 0755), 0);
  }
  // How many packets the verdicts' queue was handed so far in namespace A, or -1.
  static long Queued() {
    std::ifstream queues("/proc/thread-self/net/netfilter/nfnetlink_queue");
    long queue = -1, ignored = 0, sequence = -1;
    // queue, port id, waiting, copy mode and range, dropped by the kernel and by the reader, id sequence
    while (queues >> queue >> ignored >> ignored >> ignored >> ignored >> ignored >> ignored >> sequence >> ignored)
      if (queue == kAppQueue) return sequence;
    return -1;
  }
  // The entry for TCP to `port` once `done` holds of it, or a default one after 10 s.
  BlockedFlow WaitFor(int port, const std::function<bool(const BlockedFlow&)>& done) {
    for (int tries = 0; tries < 200; ++tries) {
      for (const BlockedFlow& flow : m_blocked->List())
        if (flow.protocol == IPPROTO_TCP && flow.localPort == port && done(flow)) return flow;
      std::this_thread::sleep_for(50ms);
    }
    return {};
  }
  std::size_t EntriesFor(int port) {
    std::size_t count = 0;
    for (const BlockedFlow& flow : m_blocked->List()) count += flow.localPort == port;
    return count;
  }
};

TEST_F(BlockedFlowsTest, ClosedPortsAndUnauthorizedListenersAreRecordedAndAuthorizedOnesAreNot) {
  ASSERT_NE(m_blocked, nullptr);
  EXPECT_FALSE(TcpFromB(kA, 7101));
  const BlockedFlow closed = WaitFor(7101, [](const BlockedFlow& flow) { return flow.count >= 1; });
  EXPECT_EQ(closed.holder, BlockedHolder{});
  EXPECT_EQ(closed.family, AF_INET);
  EXPECT_EQ(closed.remoteAddress[3], 2);  // 10.231.0.2, namespace B
  // Counted, not added again.
  EXPECT_FALSE(TcpFromB(kA, 7101));
  EXPECT_GT(WaitFor(7101, [&](const BlockedFlow& flow) { return flow.count > closed.count; }).count, closed.count);
  EXPECT_EQ(EntriesFor(7101), 1u);
  EXPECT_FALSE(TcpFromB(NetnsPair::kAddress6A, 7105));
  EXPECT_EQ(WaitFor(7105, [](const BlockedFlow& flow) { return flow.count >= 1; }).family, AF_INET6);

  // No program authorized: the copy of the drop tells of it.
  const EchoProcess unlisted(Program("other"), "::", 7102, kNobody);
  ASSERT_TRUE(unlisted.Serving());
  EXPECT_FALSE(TcpFromB(kA, 7102));
  const BlockedHolder holder{true, Program("other"), unlisted.Pid(), kNobody};
  const BlockedFlow first = WaitFor(7102, [](const BlockedFlow& flow) { return flow.count >= 1; });
  EXPECT_EQ(first.holder, holder);

  // Another program authorized: its connections go through and are not recorded, while the
  // verdicts refuse the unlisted one and tell of it.
  const std::string listedPath = Program("authorized");
  ASSERT_EQ(m_firewall->AddApp(std::u16string(listedPath.begin(), listedPath.end()).c_str(), u"echo"), FW_OK);
  const EchoProcess listed(Program("authorized"), "::", 7103, kNobody);
  ASSERT_TRUE(listed.Serving());
  EXPECT_TRUE(TcpFromB(kA, 7103));
  EXPECT_FALSE(TcpFromB(kA, 7102));
  const BlockedFlow refused = WaitFor(7102, [&](const BlockedFlow& flow) { return flow.count > first.count; });
  EXPECT_EQ(refused.holder, holder);
  EXPECT_EQ(EntriesFor(7102), 1u);
  EXPECT_EQ(EntriesFor(7103), 0u);
}

TEST_F(BlockedFlowsTest, AFloodToClosedPortsCostsTheReaderNoMoreThanTheRateLimitLetsThroughAndHidesNoListener) {
  ASSERT_NE(m_blocked, nullptr);
  const auto start = std::chrono::steady_clock::now();
  ASSERT_TRUE(SynFlood(m_netns->B(), NetnsPair::kAddressB, kA, 20000, 20000));
  // A program that listens is told of at once: the scan of closed ports did not use up the
  // budget of its copies.
  const EchoProcess unlisted(Program("other"), "::", 7104, kNobody);
  ASSERT_TRUE(unlisted.Serving());
  EXPECT_FALSE(TcpFromB(kA, 7104));
  EXPECT_EQ(WaitFor(7104, [](const BlockedFlow& flow) { return flow.count >= 1; }).holder.program, Program("other"));

  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  const std::uint64_t mostLetThrough = kDropLogBurst + static_cast<std::uint64_t>(kDropLogRate * (seconds + 1));
  std::size_t closed = 0;
  for (const BlockedFlow& flow : m_blocked->List()) closed += flow.localPort >= 20000 && flow.localPort < 40000;
  EXPECT_GT(closed, 0u);
  EXPECT_LE(closed, mostLetThrough);
  EXPECT_LE(m_blocked->List().size(), kMostBlocked);

  // With a program authorized, a flood to closed ports does not reach the verdicts' queue,
  // and the program's connections get through meanwhile.
  const std::string listedPath = Program("authorized");
  ASSERT_EQ(m_firewall->AddApp(std::u16string(listedPath.begin(), listedPath.end()).c_str(), u"echo"), FW_OK);
  const EchoProcess listed(listedPath, "::", 7103, kNobody);
  ASSERT_TRUE(listed.Serving());
  const long queuedBefore = Queued();
  ASSERT_TRUE(SynFlood(m_netns->B(), NetnsPair::kAddressB, kA, 40000, 20000));
  EXPECT_TRUE(TcpFromB(kA, 7103));
  EXPECT_LT(Queued() - queuedBefore, 100) << "queued before: " << queuedBefore;
}

}  // namespace
