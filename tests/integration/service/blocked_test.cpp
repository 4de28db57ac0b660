// The blocked connections as the service tells of them: brenvod with the firewall on in
// namespace A, unlisted servers of two users there, connections from namespace B, and
// brenvoctl run as each user.
#include <signal.h>

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <chrono>
#include <fstream>
#include <functional>
#include <map>
#include <set>
#include <thread>
#include <utility>

#include "tests/integration/service/world_test.h"
#include "tests/integration/support/echo_process.h"
#include "tests/integration/support/sockets.h"

namespace {

using namespace std::chrono_literals;
constexpr uid_t kAllowed = ServiceWorld::kAllowedUid;
constexpr uid_t kDenied = ServiceWorld::kDeniedUid;
constexpr int kDeniedsPort = 7001, kAllowedsPort = 7002, kClosedPort = 7003;
// A program's name is its owner's to choose, and must not steer the terminal that lists it.
constexpr const char* kServer = "ser\x1b[2Jver";

class BlockedTest : public WorldTest {
 protected:
  void TearDown() override {
    for (const pid_t child : m_servers) kill(child, SIGKILL), ::WaitFor(child);
    for (const pid_t child : m_followers) kill(child, SIGKILL), ::WaitFor(child);
    for (const pid_t child : m_windows) kill(child, SIGKILL), ::WaitFor(child);
    WorldTest::TearDown();
  }
  ServiceWorld::Result Ctl(uid_t uid, std::vector<std::string> args) const {
    args.insert(args.begin(), {BRENVOCTL_PATH, "--firewall=service"});
    return m_world->Run(uid, args);
  }
  // The blocks `uid` is shown, by local port.
  std::map<int, QJsonObject> Shown(uid_t uid) const {
    std::map<int, QJsonObject> shown;
    const QJsonArray list =
        QJsonDocument::fromJson(QByteArray::fromStdString(Ctl(uid, {"blocked", "--json"}).out)).array();
    for (const QJsonValue block : list) shown[block["port"].toInt()] = block.toObject();
    return shown;
  }
  std::string Read(const std::string& path) const {
    std::ifstream in(path);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }
  bool Eventually(const std::function<bool()>& ready) const {
    for (auto until = std::chrono::steady_clock::now() + 10s; !ready(); std::this_thread::sleep_for(50ms))
      if (std::chrono::steady_clock::now() > until) return false;
    return true;
  }
  // A server of `uid`'s own, run from its home: no program the firewall knows.
  pid_t Server(uid_t uid, int port) {
    const std::string program = m_world->Home(uid) + "/" + kServer, log = m_world->Home(uid) + "/server.log";
    if (!EchoProcess::CopyTo(program)) return -1;
    const pid_t pid = m_world->Spawn(uid, {std::string("./") + kServer, NetnsPair::kAddressA, std::to_string(port)},
                                     log, m_netns->A());
    m_servers.push_back(pid);
    return Eventually([&] { return Read(log).find("ready") != std::string::npos; }) ? pid : -1;
  }

  // `brenvoctl blocked --follow --json` run as `uid`, once it follows: its log, or "".
  std::string Follow(uid_t uid) {
    const std::string log = m_world->Dir() + "/follow-" + std::to_string(uid) + ".log";
    m_followers.push_back(
        m_world->Spawn(uid, {BRENVOCTL_PATH, "--firewall=service", "blocked", "--follow", "--json"}, log));
    return Eventually([&] { return Read(log).find("following") != std::string::npos; }) ? log : "";
  }
  bool Printed(const std::string& log, int port) const {
    return Read(log).find("\"port\":" + std::to_string(port) + ",") != std::string::npos;
  }

  // The window of `uid` in service mode, once it watches for blocks: it answers the first
  // notice with Unblock, then lists its programs page. Its log, or "".
  std::string UnblockingWindow(uid_t uid) {
    const std::string ready = m_world->Home(uid) + "/window-ready";
    const std::string log = ready + ".log";
    m_windows.push_back(
        m_world->Spawn(uid, {WINDOW_DRIVER_PATH, "touch", ready, "notice", "unblock", "show-programs"}, log));
    return Eventually([&] { return access(ready.c_str(), F_OK) == 0; }) ? log : "";
  }
  // The window's log once it has ended.
  std::string Ended(const std::string& log) {
    EXPECT_EQ(WaitFor(m_windows.front()), 0);
    m_windows.erase(m_windows.begin());
    return Read(log);
  }

  std::vector<pid_t> m_servers, m_followers, m_windows;
};

TEST_F(BlockedTest, EachUserSeesItsOwnProgramsBlocksAndWhoMayViewTrafficSeesThemAll) {
  ASSERT_EQ(Ctl(0, {"on"}).status, 0);
  const pid_t denieds = Server(kDenied, kDeniedsPort), alloweds = Server(kAllowed, kAllowedsPort);
  ASSERT_GT(denieds, 0);
  ASSERT_GT(alloweds, 0);
  // Followers of a user who sees only its own and of one who sees every block.
  const std::string followLog = Follow(kDenied), everythingLog = Follow(kAllowed);
  ASSERT_FALSE(followLog.empty());
  ASSERT_FALSE(everythingLog.empty());

  // The other user's block and the closed port's are signalled before the denied user's own,
  // so that were they sent to its follower too, it would print them first.
  EXPECT_FALSE(TcpFrom(m_netns->B(), NetnsPair::kAddressA, kAllowedsPort));
  EXPECT_FALSE(TcpFrom(m_netns->B(), NetnsPair::kAddressA, kClosedPort));
  ASSERT_TRUE(Eventually([&] { return Printed(everythingLog, kAllowedsPort) && Printed(everythingLog, kClosedPort); }));
  EXPECT_FALSE(TcpFrom(m_netns->B(), NetnsPair::kAddressA, kDeniedsPort));
  ASSERT_TRUE(Eventually([&] { return Printed(followLog, kDeniedsPort) && Printed(everythingLog, kDeniedsPort); }));

  const std::map<int, QJsonObject> denied = Shown(kDenied);
  ASSERT_EQ(denied.size(), 1u);
  const QJsonObject own = denied.at(kDeniedsPort);
  EXPECT_EQ(own["program"].toString().toStdString(), m_world->Home(kDenied) + "/" + kServer);
  EXPECT_EQ(own["pid"].toInt(), denieds);
  EXPECT_EQ(own["uid"].toInt(), static_cast<int>(kDenied));
  EXPECT_EQ(own["user"].toString(), "brenvo-denied");
  EXPECT_EQ(own["protocol"].toString(), "tcp");
  EXPECT_GE(own["count"].toInt(), 1);
  EXPECT_EQ(own["remote"].toString(), NetnsPair::kAddressB);

  for (const uid_t everyone : {uid_t{0}, kAllowed}) {
    const std::map<int, QJsonObject> all = Shown(everyone);
    EXPECT_EQ(all.size(), 3u) << everyone;
    for (const int port : {kDeniedsPort, kAllowedsPort, kClosedPort})
      EXPECT_EQ(all.count(port) ? all.at(port)["remote"].toString() : "", NetnsPair::kAddressB) << port;
    EXPECT_TRUE(all.count(kClosedPort) && all.at(kClosedPort)["program"].isNull());
  }
  const std::string lines = Ctl(0, {"blocked"}).out;
  EXPECT_NE(lines.find(m_world->Home(kDenied) + "/ser\\x1b[2Jver  " + std::to_string(denieds) +
                       "  brenvo-denied  tcp  7001  " + NetnsPair::kAddressB + "  "),
            std::string::npos)
      << lines;
  EXPECT_NE(lines.find("  -  -  -  tcp  7003  "), std::string::npos) << lines;

  // Followers go on following a service that starts anew.
  m_world->StopService(SIGTERM);
  ASSERT_TRUE(m_world->StartService(m_netns->A())) << m_world->Failure();
  // Each SYN to a port closed until then is a block of its own, signalled once recorded.
  int closed = kClosedPort;
  const auto closedPrinted = [&](const std::string& log, int from) {
    for (int port = from; port <= closed; ++port)
      if (Printed(log, port)) return true;
    return false;
  };
  EXPECT_TRUE(Eventually([&] {
    TcpFrom(m_netns->B(), NetnsPair::kAddressA, ++closed);
    return closedPrinted(everythingLog, kClosedPort + 1);
  }));

  // The follower was sent its user's block alone; followers end on SIGTERM as they should.
  for (const pid_t follower : m_followers) kill(follower, SIGTERM);
  for (const pid_t follower : std::exchange(m_followers, {})) EXPECT_EQ(WaitFor(follower), 0);
  EXPECT_FALSE(Printed(followLog, kAllowedsPort) || closedPrinted(followLog, kClosedPort)) << Read(followLog);

  // A user watches on 16 connections at most, a connection that asks twice counts once, and
  // the bus's word that a connection left frees its place.
  const ServiceWorld::Result watchers = m_world->Run(kDenied, {HOSTILE_CLIENT_PATH, "watchers"});
  EXPECT_EQ(watchers.out, "org.brenvo.Firewall1.Error.Busy\nwatching 16\nagain ok\n") << watchers.err;

  m_world->StopService(SIGTERM);
  const ServiceWorld::Result alone = Ctl(kDenied, {"blocked"});
  EXPECT_EQ(alone.status, 1);
  EXPECT_NE(alone.err.find("listing the blocked connections: the firewall service"), std::string::npos) << alone.err;
}

// Each user's window tells of its own blocked program; polkit refuses the denied user's
// Unblock and allows the allowed user's, whose program then gets through. A flood of SYNs to
// closed ports meanwhile raises no notice, and leaves the service answering, its memory flat.
TEST_F(BlockedTest, TheWindowUnblocksABlockedProgramAsPolkitDecidesAndAFloodRaisesNoNotice) {
  ASSERT_EQ(Ctl(0, {"on"}).status, 0);
  ASSERT_GT(Server(kDenied, kDeniedsPort), 0);
  ASSERT_GT(Server(kAllowed, kAllowedsPort), 0);

  const std::string deniedLog = UnblockingWindow(kDenied);
  ASSERT_FALSE(deniedLog.empty());
  EXPECT_FALSE(TcpFrom(m_netns->B(), NetnsPair::kAddressA, kDeniedsPort));
  const std::string denied = Ended(deniedLog);
  EXPECT_NE(denied.find("notice: " + std::string(kServer) + "|" + m_world->Home(kDenied) + "/" + kServer + "|TCP " +
                        std::to_string(kDeniedsPort) + "|" + NetnsPair::kAddressB + ":"),
            std::string::npos)
      << denied;
  EXPECT_NE(denied.find("message-box: uid " + std::to_string(kDenied) + " is not authorized"), std::string::npos)
      << denied;
  EXPECT_EQ(denied.find("program-row:"), std::string::npos) << denied;

  const std::string allowedLog = UnblockingWindow(kAllowed);
  ASSERT_FALSE(allowedLog.empty());
  const long before = ResidentKib(m_world->ServicePid());
  for (int round = 0; round < 2; ++round) {
    ASSERT_TRUE(SynFlood(m_netns->B(), NetnsPair::kAddressB, NetnsPair::kAddressA, 20000 + 20000 * round, 20000));
    const ServiceWorld::Result listed = Ctl(0, {"blocked", "--json"});
    EXPECT_EQ(listed.status, 0) << listed.err;
    EXPECT_LE(QJsonDocument::fromJson(QByteArray::fromStdString(listed.out)).array().size(), 1000);
  }
  EXPECT_LT(ResidentKib(m_world->ServicePid()) - before, 2048) << "before: " << before << " KiB";
  EXPECT_FALSE(TcpFrom(m_netns->B(), NetnsPair::kAddressA, kAllowedsPort));
  // The first notice is the allowed user's own program, not a closed port.
  EXPECT_TRUE(Eventually([&] { return Read(allowedLog).find("program-row:") != std::string::npos; }));
  EXPECT_TRUE(TcpFrom(m_netns->B(), NetnsPair::kAddressA, kAllowedsPort, 3000));
  const std::string allowed = Ended(allowedLog);
  EXPECT_NE(allowed.find("notice: " + std::string(kServer) + "|" + m_world->Home(kAllowed) + "/" + kServer + "|TCP " +
                         std::to_string(kAllowedsPort) + "|"),
            std::string::npos)
      << allowed;
  EXPECT_NE(allowed.find("program-row: 1|" + std::string(kServer) + "|"), std::string::npos) << allowed;
  EXPECT_EQ(allowed.find("message-box:"), std::string::npos) << allowed;
  // The denied user's program stays blocked.
  EXPECT_FALSE(TcpFrom(m_netns->B(), NetnsPair::kAddressA, kDeniedsPort));
}

}  // namespace
