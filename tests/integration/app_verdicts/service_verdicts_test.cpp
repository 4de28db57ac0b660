// The verdicts of the system service: brenvod in namespace A on a private bus, an authorized
// echo server beside it, a peer in namespace B. Needs root; skips with the reason where it
// cannot run.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/socket.h>

#include <atomic>
#include <memory>
#include <thread>

#include "tests/integration/service/world_test.h"
#include "tests/integration/support/echo_process.h"
#include "tests/integration/support/sockets.h"
#include "tools/packet_builder.h"

namespace {

constexpr const char* kA = NetnsPair::kAddressA;

class ServiceVerdictsTest : public WorldTest {
 protected:
  void SetUp() override {
    WorldTest::SetUp();
    if (IsSkipped() || HasFatalFailure()) return;
    m_program = m_world->Dir() + "/authorized/echo";
    ASSERT_TRUE(EchoProcess::CopyTo(m_program));
    ASSERT_EQ(Ctl({"on"}), 0);
    ASSERT_EQ(Ctl({"apps", "add", m_program, "echo"}), 0);
  }
  int Ctl(std::vector<std::string> args) const {
    args.insert(args.begin(), {BRENVOCTL_PATH, "--firewall=service"});
    return m_world->Run(0, args).status;
  }
  std::unique_ptr<EchoProcess> ServeInA(const std::string& path, int port) {
    const InNamespace inA(m_netns->A());
    auto server = std::make_unique<EchoProcess>(path, "0.0.0.0", port);
    EXPECT_TRUE(server->Serving());
    return server;
  }
  // A connection that should get through is given time for a verdict that waits for a scan
  // of /proc on a busy machine, and for the SYN sent again after a second should the first
  // have come while the service was starting: a short time-out only tells a drop quickly.
  static constexpr int kGetsThroughMs = 3000;
  bool TcpFromB(int port, int timeoutMs = kProbeTimeoutMs) { return TcpFrom(m_netns->B(), kA, port, timeoutMs); }

  std::string m_program;
};

TEST_F(ServiceVerdictsTest, WhileTheServiceIsDownProgramsAreShutOutAndOpenPortsStayOpen) {
  const std::string other = m_world->Dir() + "/other/echo";
  ASSERT_TRUE(EchoProcess::CopyTo(other));
  ASSERT_EQ(Ctl({"ports", "add", "7021", "tcp", "web"}), 0);
  const auto authorized = ServeInA(m_program, 7020);
  const auto web = ServeInA(other, 7021);
  EXPECT_TRUE(TcpFromB(7020, kGetsThroughMs));
  EXPECT_TRUE(TcpFromB(7021, kGetsThroughMs));

  m_world->StopService(SIGKILL);
  EXPECT_FALSE(TcpFromB(7020));
  {
    const InNamespace inB(m_netns->B());
    EXPECT_FALSE(UdpAnswered(kA, 7020));
  }
  EXPECT_TRUE(TcpFromB(7021, kGetsThroughMs));

  ASSERT_TRUE(m_world->StartService(m_netns->A())) << m_world->Failure();
  EXPECT_TRUE(TcpFromB(7020, kGetsThroughMs));
}

TEST_F(ServiceVerdictsTest, ASynFloodToAClosedPortLeavesTheServiceAnsweringWithFlatMemory) {
  const auto authorized = ServeInA(m_program, 7030);
  ASSERT_TRUE(TcpFromB(7030, kGetsThroughMs));
  const long before = ResidentKib(m_world->ServicePid());
  ASSERT_GT(before, 0);

  constexpr int kFlood = 100000;
  std::atomic<int> sent{0};
  std::thread flood([&] {
    const InNamespace inB(m_netns->B());
    const Fd raw(socket(AF_INET, SOCK_RAW | SOCK_CLOEXEC, IPPROTO_RAW));
    const sockaddr_in to = Address(kA, 0);
    tools::TcpSegment syn{NetnsPair::kAddressB, kA, 1024, 7999, 0, 0, tools::kSyn};
    for (int i = 0; i < kFlood; ++i, ++sent) {
      syn.srcPort = static_cast<std::uint16_t>(1024 + i % 60000);
      syn.seq = static_cast<std::uint32_t>(i);
      const std::vector<std::uint8_t> datagram = tools::TcpDatagram(syn);
      sendto(raw.fd, datagram.data(), datagram.size(), 0, reinterpret_cast<const sockaddr*>(&to), sizeof to);
    }
  });
  while (sent < kFlood / 10) std::this_thread::yield();
  // Within one SYN retransmission, however full the queue was when the first went out.
  EXPECT_TRUE(TcpFromB(7030, kGetsThroughMs)) << "sent " << sent << " of the flood";
  flood.join();
  EXPECT_EQ(Ctl({"status"}), 0);
  EXPECT_TRUE(TcpFromB(7030, kGetsThroughMs));
  EXPECT_LT(ResidentKib(m_world->ServicePid()) - before, 2048) << "before: " << before << " KiB";
}

}  // namespace
