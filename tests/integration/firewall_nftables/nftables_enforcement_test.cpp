// The firewall enforced in the kernel: Brenvo runs in namespace A, a peer in namespace B
// makes real connections. Needs root; skips with the reason where it cannot run.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <linux/capability.h>
#include <netinet/in.h>
#include <netinet/ip.h>
#include <netinet/ip_icmp.h>
#include <nftables/libnftables.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <set>
#include <sstream>

#include "firewall/com/com_ptr.h"
#include "firewall/com/com_runtime.h"
#include "firewall/local_registration.h"
#include "firewall/nft/nftables_enforcer.h"
#include "firewall/open_firewall.h"
#include "tests/firewall/hostile_texts.h"
#include "tests/firewall/test_firewall.h"
#include "tests/integration/support/netns.h"
#include "tests/integration/support/sockets.h"
#include "tests/support/temp_dir.h"

namespace {

std::uint16_t Checksum(const void* data, std::size_t size) {
  const auto* bytes = static_cast<const std::uint8_t*>(data);
  std::uint32_t sum = 0;
  for (std::size_t i = 0; i + 1 < size; i += 2) sum += (bytes[i] << 8) | bytes[i + 1];
  while (sum >> 16) sum = (sum & 0xFFFF) + (sum >> 16);
  return htons(static_cast<std::uint16_t>(~sum));
}

// Talks to the firewall of namespace A directly, as someone else on the machine would.
class NftShell {
 public:
  NftShell() : m_ctx(nft_ctx_new(NFT_CTX_DEFAULT)) {
    nft_ctx_buffer_output(m_ctx);
    nft_ctx_buffer_error(m_ctx);
  }
  ~NftShell() { nft_ctx_free(m_ctx); }
  std::string Run(const std::string& command) {
    const int rc = nft_run_cmd_from_buffer(m_ctx, command.c_str());
    std::string output = nft_ctx_get_output_buffer(m_ctx);
    nft_ctx_get_error_buffer(m_ctx);
    return rc == 0 ? output : "failed";
  }

 private:
  nft_ctx* m_ctx;
};

class NftablesEnforcementTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (const std::string problem = NamespaceTestProblem(); !problem.empty()) GTEST_SKIP() << problem;
    m_netns = std::make_unique<NetnsPair>();
    if (!m_netns->Problem().empty()) GTEST_SKIP() << m_netns->Problem();
    m_inA = std::make_unique<InNamespace>(m_netns->A());
    ASSERT_TRUE(m_inA->Entered());
    m_enforcer = std::make_shared<NftablesEnforcer>();
    if (const Status may = m_enforcer->MayChangeKernelFirewall(); !may.ok())
      GTEST_SKIP() << "libnftables cannot change the firewall of the test namespace: " << may.reason();
    m_shell = std::make_unique<NftShell>();
    CoInitialize(nullptr);
    ASSERT_TRUE(RegisterLocalFirewall(m_db, m_enforcer).ok());
    Start();
  }
  void TearDown() override {
    m_firewall.reset();
    RevokeFirewallClasses();
    m_shell.reset();
    m_enforcer.reset();
    m_inA.reset();
    m_netns.reset();
  }

  // Brenvo started afresh: the manager is created again and applies the store.
  void Start() {
    m_firewall = std::make_unique<TestFirewall>();
    ASSERT_EQ(m_firewall->InitFirewallProfile(), FW_OK);
  }

  bool TcpFromB(int port) { return TcpFrom(m_netns->B(), NetnsPair::kAddressA, port); }
  bool UdpFromB(int port, int server) {
    {
      InNamespace inB(m_netns->B());
      const Fd fd(socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0));
      const sockaddr_in to = Address(NetnsPair::kAddressA, port);
      sendto(fd.fd, "probe", 5, 0, reinterpret_cast<const sockaddr*>(&to), sizeof to);
    }
    char buffer[16];
    const bool arrived = Readable(server);
    while (recv(server, buffer, sizeof buffer, MSG_DONTWAIT) > 0) {
    }
    return arrived;
  }
  bool PingFromB() {
    InNamespace inB(m_netns->B());
    const Fd fd(socket(AF_INET, SOCK_RAW | SOCK_CLOEXEC, IPPROTO_ICMP));
    icmphdr echo{};
    echo.type = ICMP_ECHO;
    echo.un.echo.id = htons(0xB5E0);
    echo.checksum = Checksum(&echo, sizeof echo);
    const sockaddr_in to = Address(NetnsPair::kAddressA, 0);
    sendto(fd.fd, &echo, sizeof echo, 0, reinterpret_cast<const sockaddr*>(&to), sizeof to);
    std::uint8_t packet[128];
    while (Readable(fd.fd)) {
      const ssize_t size = recv(fd.fd, packet, sizeof packet, 0);
      const std::size_t header = (packet[0] & 0x0F) * 4u;
      if (size >= static_cast<ssize_t>(header + sizeof(icmphdr)) && packet[header] == ICMP_ECHOREPLY) return true;
    }
    return false;
  }

  std::vector<std::string> Tables() {
    std::istringstream lines(m_shell->Run("list tables"));
    std::vector<std::string> tables;
    for (std::string line; std::getline(lines, line);) tables.push_back(line);
    std::sort(tables.begin(), tables.end());
    return tables;
  }
  // Whether Brenvo's input chain is hooked into the kernel: only while the firewall is on.
  bool Hooked() { return m_shell->Run("list chain inet brenvo input") != "failed"; }
  // The elements of Brenvo's port set, as nft prints them ("tcp . 8080").
  std::set<std::string> Elements() {
    const std::string listing = m_shell->Run("list set inet brenvo open_ports");
    std::set<std::string> elements;
    const std::size_t start = listing.find("elements = {");
    if (start == std::string::npos) return elements;
    std::string item;
    for (std::size_t i = start + 12; i < listing.size() && listing[i] != '}'; ++i) {
      if (listing[i] == ',') {
        elements.insert(item);
        item.clear();
      } else if (listing[i] != ' ' && listing[i] != '\n' && listing[i] != '\t') {
        item += listing[i] == '.' ? " . " : std::string(1, listing[i]);
      }
    }
    if (!item.empty()) elements.insert(item);
    return elements;
  }

  TempDir m_dir;
  std::string m_db = m_dir.File("firewall.db");
  std::unique_ptr<NetnsPair> m_netns;
  std::unique_ptr<InNamespace> m_inA;
  std::shared_ptr<NftablesEnforcer> m_enforcer;
  std::unique_ptr<NftShell> m_shell;
  std::unique_ptr<TestFirewall> m_firewall;
};

const char* const kExpectedChain =
    "table inet brenvo {\n"
    "\tchain input {\n"
    "\t\ttype filter hook input priority filter; policy drop;\n"
    "\t\tiif \"lo\" accept\n"
    "\t\tct state established,related accept\n"
    "\t\ticmpv6 type { nd-router-advert, nd-neighbor-solicit, nd-neighbor-advert } accept\n"
    "\t\tmeta l4proto . th dport @open_ports accept\n"
    "\t\tjump authorized_apps\n"
    "\t\tjump drop_log\n"
    "\t}\n"
    "}\n";

TEST_F(NftablesEnforcementTest, OpenPortsAreTheOnlyWayInWhileTheFirewallIsOn) {
  const Fd tcp(TcpServer(8080)), udp(UdpServer(8080));
  EXPECT_EQ(Tables(), std::vector<std::string>{"table inet brenvo"});
  EXPECT_FALSE(Hooked());
  EXPECT_TRUE(TcpFromB(8080));
  EXPECT_TRUE(UdpFromB(8080, udp.fd));
  EXPECT_TRUE(PingFromB());

  ASSERT_EQ(m_firewall->SwitchFirewallOn(), FW_OK);
  EXPECT_EQ(m_shell->Run("list chain inet brenvo input"), kExpectedChain);
  EXPECT_FALSE(TcpFromB(8080));
  EXPECT_FALSE(UdpFromB(8080, udp.fd));
  EXPECT_FALSE(PingFromB());

  ASSERT_EQ(m_firewall->AddPort(8080, NET_FW_IP_PROTOCOL_TCP, u"web"), FW_OK);
  EXPECT_TRUE(TcpFromB(8080));
  EXPECT_FALSE(UdpFromB(8080, udp.fd));  // the same number over UDP is another port
  ASSERT_EQ(m_firewall->AddPort(8080, NET_FW_IP_PROTOCOL_UDP, u"web over udp"), FW_OK);
  EXPECT_TRUE(UdpFromB(8080, udp.fd));

  ASSERT_EQ(m_firewall->TogglePortEnabled(8080, NET_FW_IP_PROTOCOL_TCP, 1), FW_OK);
  EXPECT_FALSE(TcpFromB(8080));
  EXPECT_TRUE(UdpFromB(8080, udp.fd));
  ASSERT_EQ(m_firewall->TogglePortEnabled(8080, NET_FW_IP_PROTOCOL_TCP, 0), FW_OK);
  EXPECT_TRUE(TcpFromB(8080));
  ASSERT_EQ(m_firewall->RemovePort(8080, NET_FW_IP_PROTOCOL_TCP), FW_OK);
  EXPECT_FALSE(TcpFromB(8080));
  EXPECT_EQ(Elements(), std::set<std::string>{"udp . 8080"});

  // Inside A, loopback always works, to 127.0.0.1 and to A's own address alike.
  EXPECT_GE(Fd(ConnectTcp("127.0.0.1", 8080)).fd, 0);
  EXPECT_GE(Fd(ConnectTcp(NetnsPair::kAddressA, 8080)).fd, 0);

  // Off unhooks the chain and keeps the ports; changes made meanwhile count at the next On.
  ASSERT_EQ(m_firewall->SwitchFirewallOff(), FW_OK);
  EXPECT_FALSE(Hooked());
  EXPECT_TRUE(TcpFromB(8080));
  EXPECT_TRUE(PingFromB());
  ASSERT_EQ(m_firewall->AddPort(8080, NET_FW_IP_PROTOCOL_TCP, u"web"), FW_OK);
  ASSERT_EQ(m_firewall->RemovePort(8080, NET_FW_IP_PROTOCOL_UDP), FW_OK);
  EXPECT_EQ(Elements(), std::set<std::string>{"tcp . 8080"});
  ASSERT_EQ(m_firewall->SwitchFirewallOn(), FW_OK);
  ASSERT_EQ(m_firewall->SwitchFirewallOn(), FW_OK);  // on twice keeps one chain
  EXPECT_EQ(m_shell->Run("list chain inet brenvo input"), kExpectedChain);
  EXPECT_TRUE(TcpFromB(8080));
  EXPECT_FALSE(UdpFromB(8080, udp.fd));
}

TEST_F(NftablesEnforcementTest, AConnectionMadeBeforeOnSurvivesIt) {
  const Fd server(TcpServer(8080));
  const auto connectAndAccept = [&](Fd* client, Fd* accepted) {
    {
      InNamespace inB(m_netns->B());
      client->fd = ConnectTcp(NetnsPair::kAddressA, 8080);
    }
    accepted->fd = accept(server.fd, nullptr, nullptr);
    return client->fd >= 0 && accepted->fd >= 0;
  };
  const auto delivered = [](int from, int to) {
    send(from, "x", 1, 0);
    char byte = 0;
    return Readable(to) && recv(to, &byte, 1, 0) == 1;
  };

  // The kernel tracks connections only once some rule asks for their state: Brenvo's table
  // starts that, so a connection it never saw is picked up when A next sends on it.
  Fd client(-1), accepted(-1);
  ASSERT_TRUE(connectAndAccept(&client, &accepted));
  ASSERT_EQ(m_firewall->SwitchFirewallOn(), FW_OK);
  EXPECT_TRUE(delivered(accepted.fd, client.fd));
  EXPECT_TRUE(delivered(client.fd, accepted.fd));
  ASSERT_EQ(m_firewall->SwitchFirewallOff(), FW_OK);

  // Where something already had the kernel track connections, the peer may speak first.
  ASSERT_NE(m_shell->Run("add table ip tracking; add chain ip tracking input { type filter hook input priority 10; }; "
                         "add rule ip tracking input ct state invalid counter"),
            "failed");
  Fd client2(-1), accepted2(-1);
  ASSERT_TRUE(connectAndAccept(&client2, &accepted2));
  ASSERT_EQ(m_firewall->SwitchFirewallOn(), FW_OK);
  EXPECT_TRUE(delivered(client2.fd, accepted2.fd));
  EXPECT_TRUE(delivered(accepted2.fd, client2.fd));
  EXPECT_FALSE(TcpFromB(8080));  // while a new connection is still refused
}

TEST_F(NftablesEnforcementTest, TheStoreIsAppliedAgainAtStartAndAfterDrift) {
  ASSERT_EQ(m_firewall->SwitchFirewallOn(), FW_OK);
  ASSERT_EQ(m_firewall->AddPort(8080, NET_FW_IP_PROTOCOL_TCP, u"web"), FW_OK);
  ASSERT_EQ(m_firewall->AddPort(53, NET_FW_IP_PROTOCOL_UDP, u"dns"), FW_OK);
  ASSERT_EQ(m_firewall->AddPort(22, NET_FW_IP_PROTOCOL_TCP, u"ssh"), FW_OK);
  ASSERT_EQ(m_firewall->TogglePortEnabled(22, NET_FW_IP_PROTOCOL_TCP, 1), FW_OK);
  const std::set<std::string> open{"tcp . 8080", "udp . 53"};
  EXPECT_EQ(Elements(), open);

  // A single change touches its own element only; a start replaces the whole table.
  m_shell->Run("add element inet brenvo open_ports { tcp . 1234 }");
  ASSERT_EQ(m_firewall->AddPort(8081, NET_FW_IP_PROTOCOL_TCP, u"alt"), FW_OK);
  ASSERT_EQ(m_firewall->RemovePort(8081, NET_FW_IP_PROTOCOL_TCP), FW_OK);
  EXPECT_EQ(Elements(), (std::set<std::string>{"tcp . 8080", "udp . 53", "tcp . 1234"}));
  Start();
  EXPECT_EQ(Elements(), open);

  m_shell->Run("delete table inet brenvo");
  Start();  // a restart
  EXPECT_EQ(Elements(), open);
  EXPECT_EQ(m_shell->Run("list chain inet brenvo input"), kExpectedChain);

  m_shell->Run("delete table inet brenvo");
  ASSERT_EQ(m_firewall->AddPort(443, NET_FW_IP_PROTOCOL_TCP, u"https"), FW_OK);  // the next change
  EXPECT_EQ(Elements(), (std::set<std::string>{"tcp . 8080", "udp . 53", "tcp . 443"}));
  m_shell->Run("delete element inet brenvo open_ports { tcp . 443 }");
  ASSERT_EQ(m_firewall->RemovePort(443, NET_FW_IP_PROTOCOL_TCP), FW_OK);  // not there to delete
  EXPECT_EQ(Elements(), open);

  const FirewallSettings config{m_db, "nftables"};
  m_shell->Run("delete table inet brenvo");
  EXPECT_TRUE(ApplyFirewall(config).ok());
  EXPECT_EQ(Elements(), open);
  ASSERT_EQ(m_firewall->SwitchFirewallOff(), FW_OK);
  m_shell->Run("delete table inet brenvo");
  EXPECT_TRUE(ApplyFirewall(config).ok());
  EXPECT_FALSE(Hooked());
  EXPECT_EQ(Elements(), open);
}

TEST_F(NftablesEnforcementTest, HostileNamesAreStoredVerbatimAndNeverReachTheKernel) {
  const std::string foreign =
      "add table ip foreign; add chain ip foreign input { type filter hook input priority 5; }; "
      "add rule ip foreign input ip saddr 192.0.2.1 drop";
  ASSERT_NE(m_shell->Run(foreign), "failed");
  const std::string foreignBefore = m_shell->Run("list table ip foreign");
  ASSERT_EQ(m_firewall->SwitchFirewallOn(), FW_OK);
  std::set<std::string> expected;
  const std::vector<std::u16string> names = HostileTexts();
  for (int i = 0; i < 50; ++i) {
    const LONG number = 20000 + i;
    const LONG protocol = i % 2 ? NET_FW_IP_PROTOCOL_UDP : NET_FW_IP_PROTOCOL_TCP;
    ASSERT_EQ(m_firewall->AddPort(number, protocol, names[i].c_str()), FW_OK);
    ASSERT_EQ(m_firewall->AddApp((u"/opt/" + names[i]).c_str(), names[i].c_str()), FW_OK);
    expected.insert((i % 2 ? "udp . " : "tcp . ") + std::to_string(number));
  }

  EXPECT_EQ(Tables(), (std::vector<std::string>{"table inet brenvo", "table ip foreign"}));
  EXPECT_EQ(m_shell->Run("list table ip foreign"), foreignBefore);
  EXPECT_EQ(m_shell->Run("list chain inet brenvo input"), kExpectedChain);
  EXPECT_EQ(Elements(), expected);

  ComPtr<INetFwOpenPorts> ports;
  ComPtr<INetFwAuthorizedApplications> apps;
  ASSERT_EQ(m_firewall->m_pProfile->get_GloballyOpenPorts(ports.ReleaseAndGetAddressOf()), S_OK);
  ASSERT_EQ(m_firewall->m_pProfile->get_AuthorizedApplications(apps.ReleaseAndGetAddressOf()), S_OK);
  for (int i = 0; i < 50; ++i) {
    ComPtr<INetFwOpenPort> port;
    ASSERT_EQ(
        ports->Item(20000 + i, i % 2 ? NET_FW_IP_PROTOCOL_UDP : NET_FW_IP_PROTOCOL_TCP, port.ReleaseAndGetAddressOf()),
        S_OK);
    BSTR name = nullptr;
    ASSERT_EQ(port->get_Name(&name), S_OK);
    const UniqueBstr holder(name);
    EXPECT_EQ(std::u16string(name, SysStringLen(name)), names[i]);
    const UniqueBstr path(SysAllocString((u"/opt/" + names[i]).c_str()));
    ComPtr<INetFwAuthorizedApplication> app;
    EXPECT_EQ(apps->Item(path.get(), app.ReleaseAndGetAddressOf()), S_OK);
  }
}

// Takes CAP_NET_ADMIN out of the calling thread's effective set: the kernel then refuses
// every firewall change it sends.
bool DropNetAdmin() {
  __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
  __user_cap_data_struct data[2]{};
  if (syscall(SYS_capget, &header, data) != 0) return false;
  data[CAP_NET_ADMIN / 32].effective &= ~(1u << (CAP_NET_ADMIN % 32));
  return syscall(SYS_capset, &header, data) == 0;
}

TEST_F(NftablesEnforcementTest, AChangeTheKernelRefusesLeavesTheStoreAsItWas) {
  ASSERT_EQ(m_firewall->SwitchFirewallOn(), FW_OK);
  ASSERT_EQ(m_firewall->AddPort(8080, NET_FW_IP_PROTOCOL_TCP, u"web"), FW_OK);
  const std::string tableBefore = m_shell->Run("list table inet brenvo");

  // Another Brenvo process in the same namespace, refused by the kernel half-way.
  const pid_t child = fork();
  if (child == 0) {
    // libnftables also prints the refusal on standard error; the codes are what counts.
    freopen("/dev/null", "w", stderr);
    if (!RegisterLocalFirewall(m_db, std::make_shared<NftablesEnforcer>()).ok()) _exit(100);
    TestFirewall firewall;
    if (firewall.InitFirewallProfile() != FW_OK || !DropNetAdmin()) _exit(100);
    int wrong = 0;
    if (firewall.AddPort(9000, NET_FW_IP_PROTOCOL_TCP, u"refused") != FW_E_ADD_TO_COLLECTION) wrong |= 1;
    if (firewall.RemovePort(8080, NET_FW_IP_PROTOCOL_TCP) != FW_E_REMOVE_FROM_COLLECTION) wrong |= 2;
    if (firewall.TogglePortEnabled(8080, NET_FW_IP_PROTOCOL_TCP, 1) != FW_E_PORT_ENABLED_STATE) wrong |= 4;
    if (firewall.SwitchFirewallOff() != FW_E_WRITE_FIREWALL_STATE) wrong |= 8;
    _exit(wrong);
  }
  int status = 0;
  waitpid(child, &status, 0);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);

  BOOL state = FALSE;
  EXPECT_EQ(m_firewall->QueryFirewallOn(&state), FW_OK);
  EXPECT_EQ(state, TRUE);
  EXPECT_EQ(m_firewall->QueryPortEnabled(8080, NET_FW_IP_PROTOCOL_TCP, &state), FW_OK);
  EXPECT_EQ(state, TRUE);
  m_firewall->ListOpenPorts();
  EXPECT_EQ(m_firewall->portRows, (std::vector<PortRow>{{"web", "TCP", "8080 ", 1}}));
  EXPECT_EQ(m_shell->Run("list table inet brenvo"), tableBefore);
}

}  // namespace
