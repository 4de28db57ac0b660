// The service's capture for its clients, over scripted sources: what a client reads, what a
// client that does not read costs the others, when a capture stops, and what the traffic page
// shows when a capture is refused.
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

#include "firewall/bus/bus_protocol.h"
#include "monitor/datagram_batch.h"
#include "monitor/descriptor_source.h"
#include "monitor/service_source.h"
#include "monitor/winsock.h"
#include "tests/monitor/monitor_test_support.h"

namespace {

using namespace std::chrono_literals;
using monitor_test::Script;

const std::uint32_t kAddress = inet_addr("10.1.2.3");

// A failure of the service as the window gets it, and the Winsock error its traffic page shows.
Status AcrossTheBus(const Status& failure) { return bus::StatusOf(bus::ErrorOf(failure)); }
int PageError(const Status& failure) { return ws::WinsockError(AcrossTheBus(failure)); }

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
  const Result<CaptureServer::Opened> opened = m_server.Open("client", 1000, kAddress);
  ASSERT_TRUE(opened.ok()) << opened.status().reason();
  const int socket = opened->socket;
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
  const Result<CaptureServer::Opened> opened = m_server.Open("client", 1000, kAddress);
  ASSERT_TRUE(opened.ok()) << opened.status().reason();
  const std::uint32_t capture = opened->capture;
  EXPECT_EQ(script.boundAddress, kAddress);

  ws::DescriptorSource client(opened->socket);
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
  Script& idleScript = NextScript();
  idleScript.datagrams.assign(kMany, Datagram(1500, 7));
  idleScript.endAfterDatagrams = true;
  Script& busyScript = NextScript();
  busyScript.datagrams.assign(100, Datagram(60, 8));
  busyScript.endAfterDatagrams = true;

  const Result<CaptureServer::Opened> idle = m_server.Open("idle", 1000, kAddress);
  const Result<CaptureServer::Opened> busy = m_server.Open("busy", 1000, kAddress);
  ASSERT_TRUE(idle.ok() && busy.ok());
  const std::uint32_t idleCapture = idle->capture, busyCapture = busy->capture;
  ws::DescriptorSource idleClient(idle->socket), busyClient(busy->socket);
  // The service took every datagram of the idle client's capture while nobody read them.
  ASSERT_TRUE(Drained(idleScript));

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
  const Result<CaptureServer::Opened> closedOpened = m_server.Open("client", 1000, kAddress);
  const Result<CaptureServer::Opened> keptOpened = m_server.Open("client", 1000, kAddress);
  ASSERT_TRUE(closedOpened.ok() && keptOpened.ok());
  const std::uint32_t closedCapture = closedOpened->capture, keptCapture = keptOpened->capture;
  close(closedOpened->socket);
  ASSERT_TRUE(Eventually([&] { return Woken(closed); }));
  EXPECT_EQ(m_server.Running(), 1u);
  EXPECT_FALSE(Woken(kept));
  EXPECT_EQ(m_server.Dropped("client", closedCapture), std::nullopt);
  EXPECT_EQ(m_server.Dropped("client", keptCapture), 0u);

  // A client that stops its own receive (the window's stop) keeps its count until it closes.
  ws::DescriptorSource keptClient(keptOpened->socket);
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

TEST_F(CaptureServerTest, RefusalsReachThePageAsItsWinsockErrorsAndStartNothing) {
  NextScript().bindError = ws::WSAEADDRNOTAVAIL;
  NextScript().openError = ws::WSAEACCES;
  NextScript().startError = ws::WSAENETDOWN;
  for (const int expected : {ws::WSAEADDRNOTAVAIL, ws::WSAEACCES, ws::WSAENETDOWN}) {
    const Result<CaptureServer::Opened> refused = m_server.Open("client", 1000, kAddress);
    ASSERT_FALSE(refused.ok());
    EXPECT_EQ(PageError(refused.status()), expected) << refused.status().reason();
    EXPECT_EQ(AcrossTheBus(refused.status()).reason(), refused.status().reason());
  }
  EXPECT_EQ(m_server.Running(), 0u);

  // The limit is the user's, whatever connection it opens from; a connection that leaves
  // the bus takes its captures with it.
  std::vector<int> sockets;
  const auto open = [&](const std::string& client, uid_t uid) {
    NextScript();
    const Result<CaptureServer::Opened> opened = m_server.Open(client, uid, kAddress);
    if (!opened.ok()) return PageError(opened.status());
    sockets.push_back(opened->socket);
    return 0;
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

// Errors that the bus makes itself, not the service: the page shows a refusal where the bus
// refused the call, and a network that is down otherwise, with the bus's words.
TEST(CaptureErrorsTest, ErrorsOfTheBusItselfReachThePage) {
  const Status refused = bus::StatusOf(sdbus::Error("org.freedesktop.DBus.Error.AccessDenied", "rejected"));
  EXPECT_EQ(ws::WinsockError(refused), ws::WSAEACCES);
  EXPECT_NE(refused.reason().find("rejected"), std::string::npos);
  const Status absent = bus::StatusOf(sdbus::Error("org.freedesktop.DBus.Error.ServiceUnknown", ""));
  EXPECT_EQ(ws::WinsockError(absent), ws::WSAENETDOWN);
  EXPECT_NE(absent.reason().find("ServiceUnknown"), std::string::npos);
  const Status unknownKind = bus::StatusOf(sdbus::Error("org.brenvo.Firewall1.Error.Unheard", "why"));
  EXPECT_EQ(unknownKind.kind(), FailureKind::kFailed);
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
  const Result<CaptureServer::Opened> refused = server->Open("client", 1000, kAddress);
  ASSERT_FALSE(refused.ok());
  EXPECT_EQ(PageError(refused.status()), ws::WSAENETDOWN);
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
