// Authorized programs enforced in the kernel: copies of one echo server run from paths of
// the test's own in namespace A, one of them authorized, and a peer in namespace B finds out
// which of them answer. Needs root; skips with the reason where it cannot run.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>

#include "firewall/com/com_runtime.h"
#include "firewall/service/nftables_enforcer.h"
#include "firewall/service/service_registration.h"
#include "tests/firewall/temp_dir.h"
#include "tests/firewall/test_firewall.h"
#include "tests/integration/support/echo_process.h"
#include "tests/integration/support/netns.h"
#include "tests/integration/support/sockets.h"

namespace {

namespace fs = std::filesystem;

std::u16string Wide(const std::string& text) { return std::u16string(text.begin(), text.end()); }

// The firewall of this process, on, in namespace A, answering for authorized programs as the
// window does.
class AppVerdictsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (const std::string problem = NamespaceTestProblem(); !problem.empty()) GTEST_SKIP() << problem;
    m_netns = std::make_unique<NetnsPair>();
    if (!m_netns->Problem().empty()) GTEST_SKIP() << m_netns->Problem();
    m_inA = std::make_unique<InNamespace>(m_netns->A());
    ASSERT_TRUE(m_inA->Entered());
    auto enforcer = std::make_shared<NftablesEnforcer>(true);
    if (!enforcer->MayChangeKernelFirewall())
      GTEST_SKIP() << "libnftables cannot change the firewall of the test namespace: " << TakeErrorInfoText();
    CoInitialize(nullptr);
    ASSERT_EQ(RegisterFirewallService(m_dir.File("firewall.db"), enforcer), S_OK);
    m_firewall = std::make_unique<TestFirewall>();
    ASSERT_EQ(m_firewall->InitFirewallProfile(), FW_OK);
    ASSERT_EQ(m_firewall->SwitchFirewallOn(), FW_OK);
    ASSERT_TRUE(EchoProcess::CopyTo(Program("authorized")));
    ASSERT_TRUE(EchoProcess::CopyTo(Program("other")));
  }
  void TearDown() override {
    m_firewall.reset();
    RevokeFirewallService();  // the last reference to the enforcer: its verdicts end
    m_inA.reset();
    m_netns.reset();
  }

  std::string Program(const std::string& name) const { return m_dir.File(name + "/echo"); }
  FW_ERROR_CODE Authorize(const std::string& path) { return m_firewall->AddApp(Wide(path).c_str(), u"echo"); }
  std::unique_ptr<EchoProcess> Serve(const std::string& path, const char* address, int port) {
    auto server = std::make_unique<EchoProcess>(path, address, port);
    EXPECT_TRUE(server->Serving()) << path << " on " << address << " port " << port;
    return server;
  }
  bool TcpFromB(const char* address, int port) {
    const InNamespace inB(m_netns->B());
    return Fd(ConnectTcp(address, port)).fd >= 0;
  }
  bool UdpFromB(const char* address, int port) {
    const InNamespace inB(m_netns->B());
    return UdpAnswered(address, port);
  }

  TempDir m_dir;
  std::unique_ptr<NetnsPair> m_netns;
  std::unique_ptr<InNamespace> m_inA;
  std::unique_ptr<TestFirewall> m_firewall;
};

constexpr const char* kA = NetnsPair::kAddressA;

TEST_F(AppVerdictsTest, OnlyTheAuthorizedCopyAnswersWhileItIsEnabled) {
  const auto authorized = Serve(Program("authorized"), "0.0.0.0", 7001);
  const auto other = Serve(Program("other"), "0.0.0.0", 7002);
  EXPECT_FALSE(TcpFromB(kA, 7001));
  ASSERT_EQ(Authorize(Program("authorized")), FW_OK);
  EXPECT_TRUE(TcpFromB(kA, 7001));
  EXPECT_TRUE(UdpFromB(kA, 7001));
  EXPECT_FALSE(TcpFromB(kA, 7002));
  EXPECT_FALSE(UdpFromB(kA, 7002));

  // Disabled: new connections are dropped, an accepted one carries on.
  Fd open(-1);
  {
    const InNamespace inB(m_netns->B());
    open.fd = ConnectTcp(kA, 7001);
  }
  ASSERT_GE(open.fd, 0);
  const std::u16string path = Wide(Program("authorized"));
  ASSERT_EQ(m_firewall->ToggleAppEnabled(path.c_str(), 1), FW_OK);
  EXPECT_FALSE(TcpFromB(kA, 7001));
  EXPECT_FALSE(UdpFromB(kA, 7001));
  char echoed[4] = {};
  ASSERT_EQ(send(open.fd, "abc", 3, 0), 3);
  EXPECT_TRUE(Readable(open.fd) && recv(open.fd, echoed, sizeof echoed, 0) == 3) << "the open connection stopped";

  ASSERT_EQ(m_firewall->ToggleAppEnabled(path.c_str(), 0), FW_OK);
  EXPECT_TRUE(TcpFromB(kA, 7001));
  ASSERT_EQ(m_firewall->RemoveApp(path.c_str()), FW_OK);
  EXPECT_FALSE(TcpFromB(kA, 7001));
  EXPECT_FALSE(UdpFromB(kA, 7001));
  ASSERT_EQ(Authorize(Program("authorized")), FW_OK);
  EXPECT_TRUE(TcpFromB(kA, 7001));

  // A port and a program each let a connection in.
  ASSERT_EQ(m_firewall->AddPort(7002, NET_FW_IP_PROTOCOL_TCP, u"other"), FW_OK);
  EXPECT_TRUE(TcpFromB(kA, 7002));
  EXPECT_TRUE(TcpFromB(kA, 7001));
  EXPECT_FALSE(UdpFromB(kA, 7002));
}

TEST_F(AppVerdictsTest, TheSocketBoundToTheAddressDecidesOverTheWildcardInIpv4AndIpv6) {
  ASSERT_EQ(Authorize(Program("authorized")), FW_OK);
  const auto exact4 = Serve(Program("authorized"), kA, 7003);
  const auto wildcard4 = Serve(Program("other"), "0.0.0.0", 7003);
  const auto exact6 = Serve(Program("authorized"), NetnsPair::kAddress6A, 7004);
  const auto wildcard6 = Serve(Program("other"), "::", 7004);
  EXPECT_TRUE(TcpFromB(kA, 7003));
  EXPECT_TRUE(UdpFromB(kA, 7003));
  EXPECT_FALSE(TcpFromB(NetnsPair::kSecondAddressA, 7003));
  EXPECT_FALSE(UdpFromB(NetnsPair::kSecondAddressA, 7003));
  EXPECT_TRUE(TcpFromB(NetnsPair::kAddress6A, 7004));
  EXPECT_TRUE(UdpFromB(NetnsPair::kAddress6A, 7004));
  EXPECT_FALSE(TcpFromB(NetnsPair::kSecondAddress6A, 7004));
  EXPECT_FALSE(UdpFromB(NetnsPair::kSecondAddress6A, 7004));

  // An IPv6 socket on "::" receives IPv4 too: its program answers on both.
  const auto dual = Serve(Program("authorized"), "::", 7005);
  EXPECT_TRUE(TcpFromB(NetnsPair::kSecondAddressA, 7005));
  EXPECT_TRUE(TcpFromB(NetnsPair::kSecondAddress6A, 7005));
  EXPECT_TRUE(UdpFromB(NetnsPair::kSecondAddressA, 7005));
}

TEST_F(AppVerdictsTest, AProgramAuthorizedThroughALinkIsMatchedByWhereTheLinkPoints) {
  // As the file dialog gives /usr/bin/python3, a link, for a program that runs as its target.
  const std::string link = m_dir.File("bin/echo");
  fs::create_directories(m_dir.File("bin"));
  fs::create_symlink("../authorized/echo", link);
  ASSERT_EQ(Authorize(link), FW_OK);
  const auto throughLink = Serve(link, kA, 7006);
  const auto other = Serve(Program("other"), kA, 7007);
  EXPECT_TRUE(TcpFromB(kA, 7006));
  EXPECT_FALSE(TcpFromB(kA, 7007));

  // The link made to point elsewhere (as update-alternatives does): the list unchanged, the
  // verdicts follow the link.
  fs::create_symlink(Program("other"), link + ".new");
  fs::rename(link + ".new", link);
  EXPECT_FALSE(TcpFromB(kA, 7006));
  EXPECT_TRUE(TcpFromB(kA, 7007));
}

TEST_F(AppVerdictsTest, AnExecutableReplacedUnderARunningProgramIsNotMatched) {
  ASSERT_EQ(Authorize(Program("authorized")), FW_OK);
  const auto old = Serve(Program("authorized"), kA, 7008);
  EXPECT_TRUE(TcpFromB(kA, 7008));
  // Deleted and written anew, as an upgrade does; the old process keeps serving.
  ASSERT_EQ(unlink(Program("authorized").c_str()), 0);
  ASSERT_TRUE(EchoProcess::CopyTo(Program("authorized")));
  EXPECT_FALSE(TcpFromB(kA, 7008));
  const auto renewed = Serve(Program("authorized"), kA, 7009);
  EXPECT_TRUE(TcpFromB(kA, 7009));
}

TEST_F(AppVerdictsTest, ATableDeletedBehindOurBackIsBuiltAgainByTheNextChange) {
  const auto authorized = Serve(Program("authorized"), kA, 7010);
  const auto other = Serve(Program("other"), kA, 7011);
  ASSERT_EQ(RunProgram({"nft", "delete", "table", "inet", "brenvo"}), 0);
  EXPECT_TRUE(TcpFromB(kA, 7011));
  ASSERT_EQ(Authorize(Program("authorized")), FW_OK);
  EXPECT_TRUE(TcpFromB(kA, 7010));
  EXPECT_FALSE(TcpFromB(kA, 7011));  // the firewall is on again too
}

// How many packets the kernel has queued for a verdict so far in this thread's namespace.
long QueuedSoFar() {
  std::ifstream queues("/proc/thread-self/net/netfilter/nfnetlink_queue");
  for (std::string line; std::getline(queues, line);) {
    std::istringstream fields(line);
    long number = -1, field = 0;
    fields >> number;
    for (int i = 0; i < 7 && fields >> field; ++i) {
    }
    if (number == 4151) return field;  // the eighth field: the last packet's id
  }
  return -1;
}

TEST_F(AppVerdictsTest, EachFlowIsAskedAboutOnce) {
  // This test's own program, holding a UDP socket that never answers: its flow stays "new"
  // to the kernel's connection tracking, datagram after datagram.
  ASSERT_EQ(Authorize(fs::canonical("/proc/self/exe")), FW_OK);
  const Fd quiet(socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0));
  const sockaddr_in at = Address(kA, 7012);
  ASSERT_EQ(bind(quiet.fd, reinterpret_cast<const sockaddr*>(&at), sizeof at), 0);
  const long before = QueuedSoFar();
  int arrived = 0;
  {
    const InNamespace inB(m_netns->B());
    const Fd flow(socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0));
    // The first datagram is let in before the others go: those sent at once would each be
    // the first the kernel has seen of the flow.
    for (int i = 0; i < 5; ++i) {
      sendto(flow.fd, "x", 1, 0, reinterpret_cast<const sockaddr*>(&at), sizeof at);
      char byte;
      arrived += Readable(quiet.fd) && recv(quiet.fd, &byte, 1, 0) == 1;
    }
  }
  EXPECT_EQ(arrived, 5);
  EXPECT_EQ(QueuedSoFar() - before, 1);

  // A TCP connection: its SYN, then established traffic.
  const auto server = Serve(Program("other"), kA, 7013);
  ASSERT_EQ(Authorize(Program("other")), FW_OK);
  const long beforeTcp = QueuedSoFar();
  Fd connection(-1);
  {
    const InNamespace inB(m_netns->B());
    connection.fd = ConnectTcp(kA, 7013);
  }
  ASSERT_GE(connection.fd, 0);
  char echoed[4];
  for (int i = 0; i < 5; ++i)
    ASSERT_TRUE(send(connection.fd, "abc", 3, 0) == 3 && Readable(connection.fd) &&
                recv(connection.fd, echoed, 3, 0) == 3);
  EXPECT_EQ(QueuedSoFar() - beforeTcp, 1);
}

}  // namespace
