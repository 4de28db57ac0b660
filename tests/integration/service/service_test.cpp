// The firewall service as its users meet it: brenvod in a network namespace of the test's
// own, on a private system bus with real polkitd deciding; the window (offscreen) and
// brenvoctl running as a user polkit allows and as one it does not; connections from a
// second namespace. Needs root; skips with the reason where it cannot run.
#include <gtest/gtest.h>
#include <linux/sched.h>
#include <signal.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <atomic>
#include <fstream>
#include <memory>
#include <set>
#include <thread>

#include "firewall/com/com_ptr.h"
#include "firewall/com/com_runtime.h"
#include "firewall/entry_listing.h"
#include "firewall/local_registration.h"
#include "firewall/open_firewall.h"
#include "tests/firewall/hostile_texts.h"
#include "tests/firewall/test_firewall.h"
#include "tests/integration/service/world_test.h"
#include "tests/integration/support/sockets.h"
#include "tests/support/status_kind.h"

namespace {

using Result = ServiceWorld::Result;
constexpr uid_t kAllowed = ServiceWorld::kAllowedUid;
constexpr uid_t kDenied = ServiceWorld::kDeniedUid;

class ServiceTest : public WorldTest {
 protected:
  void TearDown() override {
    RevokeFirewallClasses();
    WorldTest::TearDown();
  }

  // Always the service: brenvoctl left to choose would work on the host's own store and
  // kernel whenever the service is down.
  Result Ctl(uid_t uid, std::vector<std::string> args) const {
    args.insert(args.begin(), {BRENVOCTL_PATH, "--firewall=service"});
    return m_world->Run(uid, args);
  }
  Result Window(uid_t uid, std::vector<std::string> actions) const {
    actions.insert(actions.begin(), WINDOW_DRIVER_PATH);
    return m_world->Run(uid, actions);
  }
  // The ports as the store on disk holds them, read past the service: "8080/tcp name".
  std::set<std::string> StoredPorts() const {
    const Result listed =
        m_world->Run(0, {BRENVOCTL_PATH, "--db", m_world->StorePath(), "--firewall=store", "--json", "ports", "list"});
    std::set<std::string> ports;
    for (const QJsonValue port : QJsonDocument::fromJson(QByteArray::fromStdString(listed.out)).array()) {
      const QJsonObject entry = port.toObject();
      ports.insert(std::to_string(entry["number"].toInt()) + "/" + entry["protocol"].toString().toStdString() + " " +
                   entry["name"].toString().toStdString());
    }
    return ports;
  }
  std::string KernelTable() const {
    std::string listing;
    const std::string command = "ip netns exec " + m_netns->A() + " nft list table inet brenvo 2>&1";
    if (FILE* out = popen(command.c_str(), "r")) {
      char buffer[4096];
      for (std::size_t n; (n = fread(buffer, 1, sizeof buffer, out)) > 0;) listing.append(buffer, n);
      pclose(out);
    }
    return listing;
  }
  bool TcpFromB(int port) { return TcpFrom(m_netns->B(), NetnsPair::kAddressA, port); }
  // Runs a program as root in namespace A, where the service keeps its table.
  Result RunInA(const std::vector<std::string>& argv) const {
    const std::string log = m_world->Dir() + "/run-in-a.log";
    Result result;
    result.status = WaitFor(m_world->Spawn(0, argv, log, m_netns->A()));
    std::ifstream in(log);
    result.err.assign(std::istreambuf_iterator<char>(in), {});
    return result;
  }
};

TEST_F(ServiceTest, AnAllowedUserOpensAPortInTheWindowAndTheKernelLetsItThrough) {
  ASSERT_EQ(Ctl(0, {"on"}).status, 0);
  std::unique_ptr<Fd> server8080, server8081;
  {
    InNamespace inA(m_netns->A());
    server8080 = std::make_unique<Fd>(TcpServer(8080));
    server8081 = std::make_unique<Fd>(TcpServer(8081));
  }
  EXPECT_FALSE(TcpFromB(8080));

  const Result window = Window(kAllowed, {"add-port", "8080", "tcp", "web", "show"});
  EXPECT_EQ(window.status, 0) << window.err;
  EXPECT_NE(window.out.find("firewall: on\n"), std::string::npos) << window.out;
  EXPECT_NE(window.out.find("port-row: 1|web|8080|TCP|Remove\n"), std::string::npos) << window.out;
  EXPECT_EQ(StoredPorts(), std::set<std::string>{"8080/tcp web"});
  EXPECT_NE(KernelTable().find("tcp . 8080"), std::string::npos) << KernelTable();
  EXPECT_TRUE(TcpFromB(8080));
  EXPECT_FALSE(TcpFromB(8081));
}

TEST_F(ServiceTest, ADeniedUserIsRefusedWithTheReasonAndNothingChanges) {
  ASSERT_EQ(Ctl(kAllowed, {"ports", "add", "22", "tcp", "ssh"}).status, 0);
  const Result window = Window(kDenied, {"add-port", "8081", "tcp", "web", "on", "show"});
  EXPECT_EQ(window.status, 0) << window.err;
  EXPECT_NE(window.err.find("uid 4202 is not authorized for org.brenvo.firewall.manage"), std::string::npos)
      << window.err;
  // The refused add is listed again from the firewall, and the radio buttons show what it is.
  EXPECT_NE(window.out.find("firewall: off\n"), std::string::npos) << window.out;
  EXPECT_NE(window.out.find("port-row: 1|ssh|22 |TCP|Remove\n"), std::string::npos) << window.out;
  EXPECT_EQ(window.out.find("8081"), std::string::npos) << window.out;
  EXPECT_EQ(StoredPorts(), std::set<std::string>{"22/tcp ssh"});

  const Result ctl = Ctl(kDenied, {"ports", "add", "8082", "tcp", "web"});
  EXPECT_EQ(ctl.status, 1);
  EXPECT_NE(ctl.err.find("not authorized"), std::string::npos) << ctl.err;
  // Reading needs no authorization.
  EXPECT_EQ(Ctl(kDenied, {"ports", "list"}).status, 0);
}

TEST_F(ServiceTest, RootNeedsNoPolkitAndOthersNeedAnAnswer) {
  m_world->StopPolkit();
  EXPECT_EQ(Ctl(0, {"ports", "add", "8083", "tcp", "root"}).status, 0);
  const Result allowed = Ctl(kAllowed, {"ports", "add", "8084", "tcp", "user"});
  EXPECT_EQ(allowed.status, 1);
  EXPECT_NE(allowed.err.find("polkit"), std::string::npos) << allowed.err;
  EXPECT_EQ(StoredPorts(), std::set<std::string>{"8083/tcp root"});
}

TEST_F(ServiceTest, BrenvoctlRoundTripsEveryCommand) {
  const auto json = [](const Result& result) { return QJsonDocument::fromJson(QByteArray::fromStdString(result.out)); };
  EXPECT_EQ(json(Ctl(kAllowed, {"--json", "status"}))["enabled"].toBool(true), false);
  EXPECT_EQ(Ctl(kAllowed, {"on"}).status, 0);
  const QJsonDocument status = json(Ctl(kAllowed, {"--json", "status"}));
  EXPECT_TRUE(status["enabled"].toBool());
  EXPECT_EQ(status["enforcement"].toString().toStdString(), "nftables, by the service brenvod");

  EXPECT_EQ(Ctl(kAllowed, {"apps", "add", "/usr/bin/rsync", "Backup"}).status, 0);
  EXPECT_EQ(Ctl(kAllowed, {"apps", "disable", "/usr/bin/rsync"}).status, 0);
  EXPECT_EQ(Ctl(kAllowed, {"ports", "add", "873", "tcp", "rsync"}).status, 0);
  EXPECT_EQ(Ctl(kAllowed, {"ports", "add", "53", "udp", "dns"}).status, 0);
  EXPECT_EQ(Ctl(kAllowed, {"ports", "disable", "53", "udp"}).status, 0);
  EXPECT_EQ(json(Ctl(kAllowed, {"--json", "apps", "list"})).array(),
            (QJsonArray{QJsonObject{{"path", "/usr/bin/rsync"}, {"name", "Backup"}, {"enabled", false}}}));
  EXPECT_EQ(json(Ctl(kAllowed, {"--json", "ports", "list"})).array(),
            (QJsonArray{QJsonObject{{"number", 873}, {"protocol", "tcp"}, {"name", "rsync"}, {"enabled", true}},
                        QJsonObject{{"number", 53}, {"protocol", "udp"}, {"name", "dns"}, {"enabled", false}}}));
  EXPECT_NE(KernelTable().find("tcp . 873"), std::string::npos);
  EXPECT_EQ(KernelTable().find("udp . 53"), std::string::npos);

  // Text from whoever changed the firewall reaches a terminal escaped; a path is kept as the
  // file it names.
  EXPECT_EQ(Ctl(kAllowed, {"apps", "add", "//usr//bin/./tar/", "fake\nenabled  x /bin/sh\x1b[2J\u009b"}).status, 0);
  EXPECT_NE(Ctl(kAllowed, {"apps", "list"}).out.find("fake\\x0aenabled  x /bin/sh\\x1b[2J\\u009b /usr/bin/tar\n"),
            std::string::npos)
      << Ctl(kAllowed, {"apps", "list"}).out;
  EXPECT_EQ(Ctl(kAllowed, {"apps", "remove", "/usr/bin/tar/"}).status, 0);
  EXPECT_EQ(Ctl(kAllowed, {"apps", "add", "/usr/../bin/tar", "up"}).status, 2);

  EXPECT_EQ(Ctl(kAllowed, {"apps", "enable", "/usr/bin/rsync"}).status, 0);
  EXPECT_EQ(Ctl(kAllowed, {"apps", "remove", "/usr/bin/rsync"}).status, 0);
  EXPECT_EQ(Ctl(kAllowed, {"ports", "enable", "53", "udp"}).status, 0);
  EXPECT_EQ(Ctl(kAllowed, {"ports", "remove", "873", "tcp"}).status, 0);
  EXPECT_EQ(Ctl(kAllowed, {"apply"}).status, 0);
  EXPECT_EQ(Ctl(kAllowed, {"off"}).status, 0);
  EXPECT_EQ(json(Ctl(kAllowed, {"--json", "apps", "list"})).array(), QJsonArray{});
  EXPECT_EQ(StoredPorts(), std::set<std::string>{"53/udp dns"});

  // A change of something that is not there fails; a command not understood is a usage error.
  EXPECT_EQ(Ctl(kAllowed, {"apps", "remove", "/usr/bin/rsync"}).status, 1);
  EXPECT_EQ(Ctl(kAllowed, {"ports", "add", "0", "tcp", "zero"}).status, 2);
  EXPECT_EQ(Ctl(kAllowed, {"ports", "add", "80", "sctp", "web"}).status, 2);
  EXPECT_EQ(Ctl(kAllowed, {"frobnicate"}).status, 2);
}

TEST_F(ServiceTest, TheWindowAndBrenvoctlChangeTheSameFirewallAtOnce) {
  const std::string log = m_world->Dir() + "/window.log";
  const pid_t window = m_world->Spawn(kAllowed, {WINDOW_DRIVER_PATH, "add-ports", "20000", "200"}, log);
  int failures = 0;
  for (int port = 30000; port < 30200; ++port)
    failures += Ctl(kAllowed, {"ports", "add", std::to_string(port), "tcp", "ctl"}).status != 0;
  EXPECT_EQ(WaitFor(window), 0);
  EXPECT_EQ(failures, 0);
  const std::set<std::string> stored = StoredPorts();
  EXPECT_EQ(stored.size(), 400u);
  for (int i = 0; i < 200; ++i) {
    EXPECT_TRUE(stored.count(std::to_string(20000 + i) + "/tcp port " + std::to_string(20000 + i))) << i;
    EXPECT_TRUE(stored.count(std::to_string(30000 + i) + "/tcp ctl")) << i;
  }
}

TEST_F(ServiceTest, AKilledServiceLosesNoAcknowledgedChangeAndTheWindowCarriesOn) {
  const std::string go = m_world->Dir() + "/restarted";
  const pid_t window = m_world->Spawn(kAllowed,
                                      {WINDOW_DRIVER_PATH, "add-port", "1111", "tcp", "before", "wait-for", go,
                                       "add-port", "2222", "tcp", "after", "show"},
                                      m_world->Dir() + "/window.log");

  std::atomic<int> attempts{0};
  std::set<int> acknowledged;
  std::thread changes([&] {
    for (int port = 40000; port < 41000; ++port, ++attempts)
      if (Ctl(0, {"ports", "add", std::to_string(port), "udp", "x"}).status == 0) acknowledged.insert(port);
  });
  while (attempts < 300) std::this_thread::sleep_for(std::chrono::milliseconds(5));
  m_world->StopService(SIGKILL);
  while (attempts < 400) std::this_thread::sleep_for(std::chrono::milliseconds(5));
  ASSERT_TRUE(m_world->StartService(m_netns->A())) << m_world->Failure();
  std::ofstream(go).put('\n');
  changes.join();
  EXPECT_EQ(WaitFor(window), 0);

  std::set<std::string> expected;
  for (const int port : acknowledged) expected.insert(std::to_string(port) + "/udp x");
  std::set<std::string> stored = StoredPorts();
  EXPECT_TRUE(stored.erase("1111/tcp before"));
  EXPECT_TRUE(stored.erase("2222/tcp after")) << "the window's change after the restart did not arrive";
  // Changes cut off by the kill may have been stored without an answer; none that was
  // answered may be missing.
  for (const std::string& port : expected) EXPECT_TRUE(stored.count(port)) << port;
  EXPECT_GE(acknowledged.size(), 800u);
  std::ifstream windowLog(m_world->Dir() + "/window.log");
  const std::string shown((std::istreambuf_iterator<char>(windowLog)), {});
  EXPECT_NE(shown.find("port-row: 1|after|2222|TCP|Remove"), std::string::npos) << shown;
}

// The firewall operations of the window in this process, over the bus.
class ServiceProfileTest : public ServiceTest {
 protected:
  void SetUp() override {
    ServiceTest::SetUp();
    if (IsSkipped() || HasFatalFailure()) return;
    CoInitialize(nullptr);
    ASSERT_TRUE(RegisterFirewall(FirewallSettings{"", "service"}, {}).ok());
  }
};

// A hostile client gets no more than its user may have: a connection that outlives its
// process is still its user's once the process's pid is root's, and captures are bounded
// per user and end with their connection.
TEST_F(ServiceTest, AHostileClientGetsNoMoreThanItsUser) {
  ASSERT_EQ(Ctl(0, {"on"}).status, 0);
  const std::string go = m_world->Home(kDenied) + "/go", answer = m_world->Home(kDenied) + "/answer";
  const Result started = m_world->Run(kDenied, {HOSTILE_CLIENT_PATH, "reused-pid", go, answer});
  ASSERT_EQ(started.status, 0) << started.err;
  pid_t reused = std::stoi(started.out);
  clone_args arguments{};
  arguments.exit_signal = SIGCHLD;
  arguments.set_tid = reinterpret_cast<std::uintptr_t>(&reused);
  arguments.set_tid_size = 1;
  const long root = syscall(SYS_clone3, &arguments, sizeof arguments);
  if (root == 0) {
    for (;;) pause();
  }
  ASSERT_EQ(root, reused) << "the pid was taken before the test could take it";
  std::ofstream(go).put('\n');
  for (int waited = 0; waited < 400 && !std::ifstream(answer); ++waited)
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  kill(static_cast<pid_t>(root), SIGKILL);
  waitpid(static_cast<pid_t>(root), nullptr, 0);
  std::ifstream in(answer);
  const std::string said((std::istreambuf_iterator<char>(in)), {});
  EXPECT_EQ(said, "org.brenvo.Firewall1.Error.AccessDenied");
  EXPECT_NE(KernelTable().find("chain input"), std::string::npos);

  // A user holds at most 4 captures however many connections it opens, and a capture ends
  // with its connection even while the user keeps the socket.
  const Result captures = m_world->Run(kAllowed, {HOSTILE_CLIENT_PATH, "captures", NetnsPair::kAddressA});
  EXPECT_EQ(captures.out, "opened 4\nended 4\n") << captures.err;
}

// A store that cannot be opened leaves the kernel closed: the table it had, or one that lets
// nothing new in.
TEST_F(ServiceTest, AStoreThatCannotBeOpenedLeavesTheKernelClosed) {
  ASSERT_EQ(Ctl(0, {"on"}).status, 0);
  ASSERT_EQ(Ctl(0, {"ports", "add", "8080", "tcp", "web"}).status, 0);
  m_world->StopService(SIGTERM);
  const std::string broken = m_world->Dir() + "/broken.db";
  std::ofstream(broken) << std::string(8192, 'x');
  std::unique_ptr<Fd> server;
  {
    InNamespace inA(m_netns->A());
    server = std::make_unique<Fd>(TcpServer(8081));
  }

  Result applied = RunInA({BRENVOD_PATH, "--db", broken, "--apply"});
  EXPECT_EQ(applied.status, 1);
  EXPECT_NE(applied.err.find("the store " + broken), std::string::npos) << applied.err;
  EXPECT_NE(applied.err.find("keeps the table inet brenvo as it was"), std::string::npos) << applied.err;
  EXPECT_NE(KernelTable().find("tcp . 8080"), std::string::npos);

  ASSERT_EQ(RunInA({"nft", "delete", "table", "inet", "brenvo"}).status, 0);
  const Result served = RunInA({BRENVOD_PATH, "--db", broken});
  EXPECT_EQ(served.status, 1);
  EXPECT_NE(served.err.find("holds a closed table"), std::string::npos) << served.err;
  EXPECT_NE(KernelTable().find("policy drop"), std::string::npos) << KernelTable();
  EXPECT_FALSE(TcpFromB(8081));
}

// While the service runs it alone writes its table: another store read as root leaves the
// kernel alone, and this process's nftables backend is refused.
TEST_F(ServiceTest, WhileTheServiceRunsNoOtherProcessWritesItsTable) {
  ASSERT_EQ(Ctl(0, {"on"}).status, 0);
  ASSERT_EQ(Ctl(0, {"ports", "add", "8080", "tcp", "web"}).status, 0);
  const std::string table = KernelTable();
  const std::string other = m_world->Dir() + "/other.db";
  EXPECT_EQ(RunInA({BRENVOCTL_PATH, "--db", other, "apps", "list"}).status, 0);
  EXPECT_EQ(RunInA({BRENVOCTL_PATH, "--db", other, "on"}).status, 0);
  EXPECT_EQ(RunInA({BRENVOCTL_PATH, "--firewall=nftables", "status"}).status, 1);
  const Result refused = RunInA({BRENVOCTL_PATH, "--firewall=nftables", "--db", other, "off"});
  EXPECT_EQ(refused.status, 1);
  EXPECT_NE(refused.err.find("owns the table inet brenvo"), std::string::npos) << refused.err;
  EXPECT_EQ(KernelTable(), table);
}

// Starts the service when the program waits before its second retry.
class StartingServiceFirewall : public TestFirewall {
 public:
  StartingServiceFirewall(ServiceWorld& world, std::string netns) : m_world(world), m_netns(std::move(netns)) {}
  bool started = false;

 protected:
  void WaitBeforeRetry(unsigned milliseconds) override {
    TestFirewall::WaitBeforeRetry(milliseconds);
    if (waits.size() == 2) started = m_world.StartService(m_netns);
  }

 private:
  ServiceWorld& m_world;
  std::string m_netns;
};

TEST_F(ServiceProfileTest, AServiceThatAnswersOnTheThirdAttemptIsWaitedFor) {
  m_world->StopService(SIGTERM);
  StartingServiceFirewall firewall(*m_world, m_netns->A());
  EXPECT_EQ(firewall.InitFirewallProfile(), FW_OK);
  EXPECT_TRUE(firewall.started) << m_world->Failure();
  EXPECT_EQ(firewall.waits, (std::vector<unsigned>{5000, 5000}));
  EXPECT_EQ(firewall.unavailableShown, 0);
  EXPECT_NE(firewall.m_pProfile, nullptr);
  BOOL on = TRUE;
  EXPECT_EQ(firewall.QueryFirewallOn(&on), FW_OK);
  EXPECT_FALSE(on);
}

TEST_F(ServiceProfileTest, WithoutASystemBusTheManagerCannotBeCreated) {
  setenv("DBUS_SYSTEM_BUS_ADDRESS", ("unix:path=" + m_world->Dir() + "/no-bus").c_str(), 1);
  TestFirewall firewall;
  firewall.InitFirewallProfile();
  EXPECT_EQ(firewall.unavailableShown, 1);
  EXPECT_EQ(firewall.exitedWith.size(), 1u);
  EXPECT_TRUE(firewall.waits.empty());
}

TEST_F(ServiceProfileTest, HostileTextIsStoredVerbatimAndOutOfBoundsInputIsRefused) {
  TestFirewall firewall;
  ASSERT_EQ(firewall.InitFirewallProfile(), FW_OK);
  ASSERT_EQ(firewall.SwitchFirewallOn(), FW_OK);
  const std::vector<std::u16string> hostile = HostileTexts();
  ASSERT_EQ(hostile.size(), 50u);
  for (std::size_t i = 0; i < hostile.size(); ++i) {
    ASSERT_EQ(firewall.AddPort(static_cast<LONG>(21000 + i), NET_FW_IP_PROTOCOL_TCP, hostile[i].c_str()), FW_OK) << i;
    ASSERT_EQ(firewall.AddApp((u"/opt/" + hostile[i]).c_str(), hostile[i].c_str()), FW_OK) << i;
  }
  firewall.ListOpenPorts();
  firewall.ListAuthorizedApps();
  ASSERT_EQ(firewall.portRows.size(), 50u);
  ASSERT_EQ(firewall.programRows.size(), 50u);
  const std::string kernel = KernelTable();
  for (std::size_t i = 0; i < hostile.size(); ++i) {
    EXPECT_EQ(firewall.portRows[i].name, RowText(hostile[i].c_str())) << i;
    EXPECT_EQ(firewall.programRows[i].path, RowText((u"/opt/" + hostile[i]).c_str())) << i;
    EXPECT_EQ(kernel.find(RowText(hostile[i].c_str())), std::string::npos) << i;
  }
  EXPECT_NE(kernel.find("tcp . 21049"), std::string::npos);

  // At the limits: 4096 characters pass, 4097 do not; ports and protocols outside the range.
  EXPECT_EQ(firewall.AddPort(22000, NET_FW_IP_PROTOCOL_TCP, std::u16string(4096, u'\u00e9').c_str()), FW_OK);
  EXPECT_EQ(firewall.AddPort(22001, NET_FW_IP_PROTOCOL_TCP, std::u16string(4097, u'n').c_str()),
            FW_E_ADD_TO_COLLECTION);
  EXPECT_EQ(firewall.AddApp((u"/" + std::u16string(4096, u'p')).c_str(), u"long"), FW_E_ADD_TO_COLLECTION);
  EXPECT_EQ(firewall.AddPort(65536, NET_FW_IP_PROTOCOL_TCP, u"too high"), FW_E_SET_PORT_NUMBER);
  std::shared_ptr<FirewallBusClient> client;
  ASSERT_TRUE(FirewallBusClient::Connect(&client).ok());
  const Status tooHigh = client->Add(PortRecord{{65536, 6}, u"too high", true});
  EXPECT_EQ(KindOf(tooHigh), FailureKind::kInvalidArgument);
  EXPECT_NE(tooHigh.reason().find("outside 1 to 65535"), std::string::npos);
  EXPECT_EQ(KindOf(client->Add(PortRecord{{0, 6}, u"zero", true})), FailureKind::kInvalidArgument);
  const Status seven = client->Add(PortRecord{{80, 7}, u"seven", true});
  EXPECT_EQ(KindOf(seven), FailureKind::kInvalidArgument);
  EXPECT_NE(seven.reason().find("neither TCP (6) nor UDP (17)"), std::string::npos);
  EXPECT_EQ(KindOf(client->Add(AppRecord{u"relative/path", u"x", true})), FailureKind::kInvalidArgument);
  std::optional<PortRecord> missing;
  EXPECT_TRUE(client->Find(PortKey{22001, 6}, &missing).ok());
  EXPECT_FALSE(missing);
  EXPECT_EQ(KindOf(client->Update(PortKey{22001, 6}, EntryChange{{}, false})), FailureKind::kNotFound);
}

}  // namespace
