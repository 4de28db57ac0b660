// The service's capture for its clients, over scripted sources: what a client reads, what a
// client that does not read costs the others, and when a capture stops.
#include "daemon/capture_server.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <deque>
#include <memory>
#include <thread>
#include <vector>

#include "monitor/datagram_batch.h"
#include "monitor/descriptor_source.h"
#include "monitor/winsock.h"
#include "tests/monitor/monitor_test_support.h"

namespace {

using namespace std::chrono_literals;
using monitor_test::Script;

const std::uint32_t kAddress = inet_addr("10.1.2.3");

std::vector<std::uint8_t> Datagram(std::size_t size, std::uint8_t fill) {
  std::vector<std::uint8_t> bytes(size, fill);
  bytes[0] = 0x45;
  return bytes;
}

// A server whose captures take the scripts in turn.
class CaptureServerTest : public ::testing::Test {
 protected:
  Script& NextScript() { return m_scripts.emplace_back(); }

  // Waits until the source of `script` has been asked for everything it had.
  static bool Drained(Script& script) {
    std::unique_lock lock(script.mutex);
    return script.changed.wait_for(lock, 10s, [&] { return script.datagrams.empty() && script.receives > 0; });
  }
  static bool Woken(Script& script) {
    std::lock_guard lock(script.mutex);
    return script.woken;
  }
  template <class Condition>
  static bool Eventually(Condition condition) {
    for (auto until = std::chrono::steady_clock::now() + 10s; !condition();) {
      if (std::chrono::steady_clock::now() > until) return false;
      std::this_thread::sleep_for(5ms);
    }
    return true;
  }

  std::deque<Script> m_scripts;
  std::size_t m_used = 0;
  CaptureServer m_server{[this] { return std::make_unique<monitor_test::ScriptedSource>(m_scripts.at(m_used++)); }};
};

TEST_F(CaptureServerTest, DatagramsThatCameTogetherShareAMessageUpToItsLimit) {
  Script& script = NextScript();
  const std::vector<std::vector<std::uint8_t>> sent = {Datagram(20, 1), Datagram(1500, 2), Datagram(65535, 3),
                                                       Datagram(40, 4)};
  script.datagrams.assign(sent.begin(), sent.end());
  script.endAfterDatagrams = true;
  int socket = -1;
  std::uint32_t capture = 0;
  ASSERT_EQ(m_server.Open("client", 1000, kAddress, &socket, &capture), 0);
  // The largest datagram does not fit beside the first two, and nothing fits beside it.
  std::vector<std::vector<std::vector<std::uint8_t>>> messages;
  std::vector<std::uint8_t> buffer(ws::DatagramBatch::kLargestMessage);
  for (ssize_t size; (size = recv(socket, buffer.data(), buffer.size(), 0)) > 0;) {
    std::span<const std::uint8_t> message(buffer.data(), static_cast<std::size_t>(size)), datagram;
    auto& datagrams = messages.emplace_back();
    while (ws::TakeDatagram(message, &datagram)) datagrams.emplace_back(datagram.begin(), datagram.end());
    EXPECT_TRUE(message.empty());
  }
  close(socket);
  using Datagrams = std::vector<std::vector<std::uint8_t>>;
  EXPECT_EQ(messages, (std::vector<Datagrams>{{sent[0], sent[1]}, {sent[2]}, {sent[3]}}));
}

TEST_F(CaptureServerTest, TheClientReadsEveryDatagramThenTheEndOfTheSource) {
  Script& script = NextScript();
  const std::vector<std::vector<std::uint8_t>> sent = {Datagram(20, 1), Datagram(1500, 2), Datagram(65535, 3)};
  script.datagrams.assign(sent.begin(), sent.end());
  script.endAfterDatagrams = true;
  int socket = -1;
  std::uint32_t capture = 0;
  ASSERT_EQ(m_server.Open("client", 1000, kAddress, &socket, &capture), 0);
  EXPECT_EQ(script.boundAddress, kAddress);

  ws::DescriptorSource client(socket);
  std::vector<std::uint8_t> buffer(65535);
  for (const auto& datagram : sent) {
    std::uint32_t received = 0;
    ASSERT_EQ(client.Receive(buffer.data(), 65535, received), 0);
    EXPECT_EQ(std::vector<std::uint8_t>(buffer.begin(), buffer.begin() + received), datagram);
  }
  std::uint32_t received = 0;
  EXPECT_EQ(client.Receive(buffer.data(), 65535, received), ws::WSAENETDOWN);
  EXPECT_EQ(m_server.Dropped("client", capture), 0u);
  EXPECT_EQ(m_server.Dropped("someone else", capture), std::nullopt);
}

TEST_F(CaptureServerTest, AClientThatDoesNotReadLosesDatagramsAndHoldsUpNoOne) {
  constexpr std::size_t kMany = 20000;  // about 30 MB: far more than a client's buffer holds
  Script& idle = NextScript();
  idle.datagrams.assign(kMany, Datagram(1500, 7));
  idle.endAfterDatagrams = true;
  Script& busy = NextScript();
  busy.datagrams.assign(100, Datagram(60, 8));
  busy.endAfterDatagrams = true;

  int idleSocket = -1, busySocket = -1;
  std::uint32_t idleCapture = 0, busyCapture = 0;
  ASSERT_EQ(m_server.Open("idle", 1000, kAddress, &idleSocket, &idleCapture), 0);
  ASSERT_EQ(m_server.Open("busy", 1000, kAddress, &busySocket, &busyCapture), 0);
  ws::DescriptorSource idleClient(idleSocket), busyClient(busySocket);
  // The service took every datagram of the idle client's capture while nobody read them.
  ASSERT_TRUE(Drained(idle));

  std::vector<std::uint8_t> buffer(65535);
  std::uint32_t received = 0;
  std::size_t busyCount = 0;
  while (busyClient.Receive(buffer.data(), 65535, received) == 0) ++busyCount;
  EXPECT_EQ(busyCount, 100u);
  EXPECT_EQ(m_server.Dropped("busy", busyCapture), 0u);

  std::size_t idleCount = 0;
  while (idleClient.Receive(buffer.data(), 65535, received) == 0) ++idleCount;
  const std::optional<std::uint64_t> dropped = m_server.Dropped("idle", idleCapture);
  ASSERT_TRUE(dropped);
  EXPECT_GT(*dropped, 0u);
  EXPECT_EQ(idleCount + *dropped, kMany);
}

TEST_F(CaptureServerTest, ClosingTheClientsEndStopsItsCaptureAlone) {
  Script& closed = NextScript();  // no traffic: the source waits until it is woken
  Script& kept = NextScript();
  int closedSocket = -1, keptSocket = -1;
  std::uint32_t closedCapture = 0, keptCapture = 0;
  ASSERT_EQ(m_server.Open("client", 1000, kAddress, &closedSocket, &closedCapture), 0);
  ASSERT_EQ(m_server.Open("client", 1000, kAddress, &keptSocket, &keptCapture), 0);
  close(closedSocket);
  ASSERT_TRUE(Eventually([&] { return Woken(closed); }));
  EXPECT_EQ(m_server.Running(), 1u);
  EXPECT_FALSE(Woken(kept));
  EXPECT_EQ(m_server.Dropped("client", closedCapture), std::nullopt);
  EXPECT_EQ(m_server.Dropped("client", keptCapture), 0u);

  // A client that stops its own receive (the window's stop) keeps its count until it closes.
  ws::DescriptorSource keptClient(keptSocket);
  std::thread stop([&] {
    std::this_thread::sleep_for(50ms);
    keptClient.Wake();
  });
  std::vector<std::uint8_t> buffer(65535);
  std::uint32_t received = 0;
  EXPECT_EQ(keptClient.Receive(buffer.data(), 65535, received), ws::WSAEDISCON);
  stop.join();
  EXPECT_EQ(m_server.Dropped("client", keptCapture), 0u);
}

TEST_F(CaptureServerTest, RefusalsComeBackAsWinsockErrorsAndStartNothing) {
  NextScript().bindError = ws::WSAEADDRNOTAVAIL;
  int socket = -1;
  std::uint32_t capture = 0;
  EXPECT_EQ(m_server.Open("client", 1000, kAddress, &socket, &capture), ws::WSAEADDRNOTAVAIL);
  EXPECT_EQ(m_server.Running(), 0u);

  // The limit is the user's, whatever connection it opens from; a connection that leaves
  // the bus takes its captures with it.
  std::vector<int> sockets;
  const auto open = [&](const std::string& client, uid_t uid) {
    NextScript();
    const int error = m_server.Open(client, uid, kAddress, &socket, &capture);
    if (error == 0) sockets.push_back(socket);
    return error;
  };
  for (std::size_t i = 0; i < CaptureServer::kMaxPerUser; ++i) EXPECT_EQ(open(":1." + std::to_string(i), 1000), 0);
  EXPECT_EQ(open(":1.99", 1000), ws::WSAEMFILE);
  m_server.ClientGone(":1.0");
  EXPECT_EQ(m_server.Running(), CaptureServer::kMaxPerUser - 1);
  EXPECT_EQ(open(":1.100", 1000), 0);
  for (uid_t uid = 2000; sockets.size() < CaptureServer::kMaxInAll + 1; ++uid)
    ASSERT_EQ(open(":2." + std::to_string(uid), uid), 0);
  EXPECT_EQ(open("one more", 0), ws::WSAEMFILE);
  EXPECT_EQ(m_server.Running(), CaptureServer::kMaxInAll);
  for (const int s : sockets) close(s);
}

// Without descriptors for its watcher the server says so, refuses every capture and still
// ends.
TEST(CaptureServerStartTest, AServerThatCannotWatchItsClientsSaysSoAndRefuses) {
  rlimit before;
  ASSERT_EQ(getrlimit(RLIMIT_NOFILE, &before), 0);
  const int lowest = dup(0);
  ASSERT_GE(lowest, 0);
  close(lowest);
  rlimit none = before;
  none.rlim_cur = static_cast<rlim_t>(lowest);
  ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &none), 0);
  auto server = std::make_unique<CaptureServer>();
  ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &before), 0);
  EXPECT_NE(server->Failure().find("cannot watch its clients"), std::string::npos) << server->Failure();
  int socket = -1;
  std::uint32_t capture = 0;
  EXPECT_EQ(server->Open("client", 1000, kAddress, &socket, &capture), ws::WSAENETDOWN);
  server.reset();
}

}  // namespace

namespace {

// A length that runs past its message leaves the rest of that message unread; the next
// message is read as usual.
TEST(DescriptorSourceTest, AMessageCutShortLosesOnlyItsRest) {
  int pair[2];
  ASSERT_EQ(socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0, pair), 0);
  ws::DatagramBatch batch;
  const auto first = Datagram(5, 7), second = Datagram(30, 8);
  batch.Add(first.data(), 5);
  std::vector<std::uint8_t> cut(batch.Message().begin(), batch.Message().end());
  cut.insert(cut.end(), {100, 0, 0x45, 1, 2});  // a length of 100 with 3 bytes behind it
  batch.Clear();
  batch.Add(second.data(), 30);
  ASSERT_EQ(send(pair[0], cut.data(), cut.size(), 0), static_cast<ssize_t>(cut.size()));
  ASSERT_EQ(send(pair[0], batch.Message().data(), batch.Message().size(), 0), 32);
  close(pair[0]);

  ws::DescriptorSource client(pair[1]);
  std::vector<std::uint8_t> buffer(65535);
  std::uint32_t received = 0;
  ASSERT_EQ(client.Receive(buffer.data(), 65535, received), 0);
  EXPECT_EQ(std::vector<std::uint8_t>(buffer.begin(), buffer.begin() + received), first);
  ASSERT_EQ(client.Receive(buffer.data(), 65535, received), 0);
  EXPECT_EQ(std::vector<std::uint8_t>(buffer.begin(), buffer.begin() + received), second);
  EXPECT_EQ(client.Receive(buffer.data(), 65535, received), ws::WSAENETDOWN);
}

}  // namespace
