// Live capture end to end: a real TCP connection and crafted segments between two network
// namespaces made for the test, captured into "Logger.txt"; and the capture's diagnostic
// without the right to capture.
#include "tests/monitor/monitor_test_support.h"
#include "tools/packet_builder.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <fcntl.h>
#include <linux/capability.h>
#include <sched.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <regex>
#include <thread>

namespace {

using monitor_test::Lines;
using namespace std::chrono_literals;

constexpr const char* kAddressA = "10.213.7.1";
constexpr const char* kAddressB = "10.213.7.2";
constexpr std::uint16_t kProbePort = 1;  // readiness probes; their lines are left out

bool Run(const std::string& command) { return std::system((command + " >/dev/null 2>&1").c_str()) == 0; }

// Two namespaces joined by a veth pair: A (10.213.7.1) and B (10.213.7.2), loopback up.
class Namespaces {
 public:
  Namespaces() {
    if (::geteuid() != 0) {
      m_problem = "live capture needs root to make its own network namespaces";
      return;
    }
    const std::string id = std::to_string(::getpid());
    a = "brmonA" + id;
    b = "brmonB" + id;
    for (const std::string& command :
         {"ip netns add " + a, "ip netns add " + b,
          "ip link add vbA" + id + " netns " + a + " type veth peer name vbB" + id + " netns " + b,
          "ip -n " + a + " addr add " + kAddressA + "/24 dev vbA" + id,
          "ip -n " + b + " addr add " + kAddressB + "/24 dev vbB" + id, "ip -n " + a + " link set vbA" + id + " up",
          "ip -n " + b + " link set vbB" + id + " up", "ip -n " + a + " link set lo up",
          "ip -n " + b + " link set lo up"}) {
      if (!Run(command)) {
        m_problem = "live capture needs network namespaces of its own, and `" + command + "` failed here";
        return;
      }
    }
  }
  ~Namespaces() {
    if (a.empty()) return;
    Run("ip netns del " + a);
    Run("ip netns del " + b);
  }
  // Why the namespaces could not be made, or "".
  const std::string& problem() const { return m_problem; }

  std::string a, b;

 private:
  std::string m_problem;
};

// Moves the calling thread into a namespace while it lives. Threads and sockets made
// meanwhile belong to it.
class Inside {
 public:
  explicit Inside(const std::string& name) : m_saved(::open("/proc/thread-self/ns/net", O_RDONLY | O_CLOEXEC)) {
    const int fd = ::open(("/run/netns/" + name).c_str(), O_RDONLY | O_CLOEXEC);
    EXPECT_EQ(::setns(fd, CLONE_NEWNET), 0) << name;
    ::close(fd);
  }
  ~Inside() {
    ::setns(m_saved, CLONE_NEWNET);
    ::close(m_saved);
  }

 private:
  int m_saved;
};

int RawSocket() { return ::socket(AF_INET, SOCK_RAW, IPPROTO_RAW); }

void SendRaw(int raw, const tools::TcpSegment& segment) {
  const auto d = tools::TcpDatagram(segment);
  sockaddr_in to{};
  to.sin_family = AF_INET;
  ::inet_pton(AF_INET, segment.dstAddress.c_str(), &to.sin_addr);
  ASSERT_EQ(::sendto(raw, d.data(), d.size(), 0, reinterpret_cast<sockaddr*>(&to), sizeof to),
            static_cast<ssize_t>(d.size()));
}

// Sends probes from `raw` until the capture shows one: from then on it captures.
bool WaitUntilCapturing(monitor_test::RecordingMonitor& monitor, int raw, const std::string& from,
                        const std::string& to) {
  for (int attempt = 0; attempt < 100; ++attempt) {
    SendRaw(raw,
            {.srcAddress = from, .dstAddress = to, .srcPort = kProbePort, .dstPort = kProbePort, .flags = tools::kAck});
    if (monitor.WaitForPackets(1, 0.05)) return true;
  }
  return false;
}

std::vector<std::string> LinesWithoutProbes(const std::string& log) {
  std::vector<std::string> kept;
  const std::string probe = "{" + std::to_string(kProbePort) + "-";
  const std::string probeBack = "-" + std::to_string(kProbePort) + "}";
  for (const std::string& line : Lines(log))
    if (line.find(probe) == std::string::npos && line.find(probeBack) == std::string::npos) kept.push_back(line);
  return kept;
}

// Index of the first line at or after `from` that matches, or -1.
int Find(const std::vector<std::string>& lines, const std::string& pattern, int from = 0) {
  const std::regex re(pattern);
  for (int i = from; i < static_cast<int>(lines.size()); ++i)
    if (std::regex_match(lines[i], re)) return i;
  return -1;
}

int Count(const std::vector<std::string>& lines, const std::string& pattern) {
  int n = 0;
  for (int i = Find(lines, pattern); i >= 0; i = Find(lines, pattern, i + 1)) ++n;
  return n;
}

int Listen(const char* address, std::uint16_t port) {
  const int s = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in at{};
  at.sin_family = AF_INET;
  at.sin_port = htons(port);
  ::inet_pton(AF_INET, address, &at.sin_addr);
  const int one = 1;
  ::setsockopt(s, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  EXPECT_EQ(::bind(s, reinterpret_cast<sockaddr*>(&at), sizeof at), 0);
  EXPECT_EQ(::listen(s, 4), 0);
  return s;
}

// Opens a connection from `client` (a socket made in its namespace) to the listener,
// sends `data`, and closes both ends in order, so that both directions end with a FIN.
// Returns the client's port.
std::uint16_t Converse(int listener, int client, const char* address, std::uint16_t port, const std::string& data) {
  sockaddr_in to{};
  to.sin_family = AF_INET;
  to.sin_port = htons(port);
  ::inet_pton(AF_INET, address, &to.sin_addr);
  EXPECT_EQ(::connect(client, reinterpret_cast<sockaddr*>(&to), sizeof to), 0);
  sockaddr_in own{};
  socklen_t ownLength = sizeof own;
  ::getsockname(client, reinterpret_cast<sockaddr*>(&own), &ownLength);
  const int server = ::accept(listener, nullptr, nullptr);
  EXPECT_EQ(::send(client, data.data(), data.size(), 0), static_cast<ssize_t>(data.size()));
  ::shutdown(client, SHUT_WR);
  std::string received(data.size() + 1, '\0');
  std::size_t got = 0;
  for (ssize_t n; (n = ::recv(server, received.data() + got, received.size() - got, 0)) > 0;)
    got += static_cast<std::size_t>(n);
  EXPECT_EQ(got, data.size());
  ::close(server);
  char rest;
  EXPECT_EQ(::recv(client, &rest, 1, 0), 0);  // the server's FIN
  ::close(client);
  return ntohs(own.sin_port);
}

class LiveCaptureTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!namespaces.problem().empty()) GTEST_SKIP() << namespaces.problem();
  }

  Namespaces namespaces;
  TempDir dir;
};

TEST_F(LiveCaptureTest, ConnectionAndCraftedGapsReachTheLogInOrder) {
  monitor_test::StreamCapture streams;
  std::unique_ptr<monitor_test::RecordingMonitor> monitor;
  int listener, client, raw;
  {
    Inside a(namespaces.a);
    monitor = std::make_unique<monitor_test::RecordingMonitor>(dir.path());
    ASSERT_EQ(monitor->m_addresses, std::vector<std::string>{kAddressA});  // loopback left out
    monitor->StartCapture();                                               // the capture thread lives in A
    listener = Listen(kAddressA, 8080);
  }
  {
    Inside b(namespaces.b);
    client = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    raw = RawSocket();
  }
  ASSERT_TRUE(WaitUntilCapturing(*monitor, raw, kAddressB, kAddressA));

  const std::uint16_t clientPort = Converse(listener, client, kAddressA, 8080, "hello brenvo");
  ::close(listener);
  // B crafts a session of its own: a SYN, data before and far beyond it, and a RST.
  const std::uint32_t base = 1000000;
  auto crafted = [&](std::uint32_t seq, std::uint8_t flags, std::uint32_t payload) {
    SendRaw(raw, {.srcAddress = kAddressB,
                  .dstAddress = kAddressA,
                  .srcPort = 40000,
                  .dstPort = 9000,
                  .seq = seq,
                  .flags = flags,
                  .payloadBytes = payload});
  };
  crafted(base, tools::kSyn, 0);
  crafted(base - 1, tools::kAck | tools::kPsh, 10);
  crafted(base + 10240001, tools::kAck | tools::kPsh, 10);
  crafted(base + 1, tools::kRst, 0);
  ::close(raw);

  const std::string lastLine =
      R"(10\.213\.7\.2 - 10\.213\.7\.1 \{40000-9000\}, len: 0, seq: 1000001,ack: 0, Flags: RST )";
  const auto deadline = std::chrono::steady_clock::now() + 10s;
  while (Find(LinesWithoutProbes(dir.Read("Logger.txt")), lastLine) < 0 && std::chrono::steady_clock::now() < deadline)
    std::this_thread::sleep_for(10ms);
  monitor->StopCapture();

  const std::string log = dir.Read("Logger.txt");
  ASSERT_EQ(log.substr(log.size() - 2), "\r\n");
  const auto lines = LinesWithoutProbes(log);
  const std::string c = std::to_string(clientPort);
  // The kernel's segments carry TCP options, which count as size.
  const std::string toA = R"(10\.213\.7\.2 - 10\.213\.7\.1 \{)" + c + R"(-8080\}, len: \d+)";
  const std::string toB = R"(10\.213\.7\.1 - 10\.213\.7\.2 \{8080-)" + c + R"(\}, len: \d+)";
  const std::string numbers = R"(, seq: \d+,ack: \d+, Flags: )";
  const std::vector<std::string> expected = {
      toA + numbers + R"(SYN,TAPI  /\*New session\*/ )",
      toB + numbers + R"(SYN,ACK,TAPI  /\*New session\*/ )",
      toA + numbers + R"(ACK,PUSH )",
      toA + numbers + R"(FIN,ACK,NETDEV )",
      toB + numbers + R"(FIN,ACK,NETDEV )",
      R"(10\.213\.7\.2 - 10\.213\.7\.1 \{40000-9000\}, len: 0, seq: 1000000,ack: 0, Flags: SYN,TAPI  /\*New session\*/ )",
      R"(10\.213\.7\.2 - 10\.213\.7\.1 \{40000-9000\}, len: 10, seq: 999999,ack: 0, Flags: ACK,PUSH  \{ Gap < 0 \})",
      R"(10\.213\.7\.2 - 10\.213\.7\.1 \{40000-9000\}, len: 10, seq: 11240001,ack: 0, Flags: ACK,PUSH  \{ Gap > 10 MB \})",
      R"(10\.213\.7\.2 - 10\.213\.7\.1 \{40000-9000\}, len: 0, seq: 1000001,ack: 0, Flags: RST )",
  };
  int at = 0;
  for (const std::string& pattern : expected) {
    const int found = Find(lines, pattern, at);
    ASSERT_GE(found, 0) << "missing in order: " << pattern << "\n" << log;
    EXPECT_EQ(Count(lines, pattern), 1) << "seen more than once: " << pattern;
    at = found + 1;
  }
  // Both directions of the connection and the crafted session were closed.
  EXPECT_EQ(monitor->m_sessions.GetSize(), 0u);
  // The tree got the same segments as the log.
  EXPECT_EQ(monitor->Packets().size(), Lines(log).size());
  EXPECT_EQ(streams.Out(), "Binding to: \n");
  monitor.reset();
}

// Segments that arrive faster than the capture thread wakes wait in the kernel's buffer,
// thousands of them, and none is lost.
TEST_F(LiveCaptureTest, ABurstOfSegmentsReachesTheLogWhole) {
  std::unique_ptr<monitor_test::RecordingMonitor> monitor;
  {
    Inside a(namespaces.a);
    monitor = std::make_unique<monitor_test::RecordingMonitor>(dir.path());
    monitor->StartCapture();
  }
  int raw;
  {
    Inside b(namespaces.b);
    raw = RawSocket();
  }
  ASSERT_TRUE(WaitUntilCapturing(*monitor, raw, kAddressB, kAddressA));
  constexpr int kBurst = 2000;
  for (std::uint32_t i = 0; i < kBurst; ++i)
    SendRaw(raw, {.srcAddress = kAddressB,
                  .dstAddress = kAddressA,
                  .srcPort = 40001,
                  .dstPort = 7000,
                  .seq = i,
                  .flags = tools::kAck});
  ::close(raw);
  const std::string burst = R"(.*\{40001-7000\}.*)";
  const auto deadline = std::chrono::steady_clock::now() + 10s;
  while (Count(Lines(dir.Read("Logger.txt")), burst) < kBurst && std::chrono::steady_clock::now() < deadline)
    std::this_thread::sleep_for(10ms);
  monitor->StopCapture();
  EXPECT_EQ(Count(Lines(dir.Read("Logger.txt")), burst), kBurst);
}

TEST_F(LiveCaptureTest, LoopbackShowsEachDatagramOnce) {
  Inside a(namespaces.a);
  monitor_test::RecordingMonitor monitor(dir.path());
  monitor.m_addresses = {"127.0.0.1"};
  monitor.StartCapture();
  const int raw = RawSocket();
  ASSERT_TRUE(WaitUntilCapturing(monitor, raw, "127.0.0.1", "127.0.0.1"));
  ::close(raw);
  const int listener = Listen("127.0.0.1", 8081);
  const std::uint16_t port =
      Converse(listener, ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0), "127.0.0.1", 8081, "once");
  ::close(listener);
  const std::string c = std::to_string(port);
  const std::string last =
      R"(127\.0\.0\.1 - 127\.0\.0\.1 \{8081-)" + c + R"(\}, len: \d+, seq: \d+,ack: \d+, Flags: FIN,ACK,NETDEV )";
  const auto deadline = std::chrono::steady_clock::now() + 10s;
  while (Find(LinesWithoutProbes(dir.Read("Logger.txt")), last) < 0 && std::chrono::steady_clock::now() < deadline)
    std::this_thread::sleep_for(10ms);
  std::this_thread::sleep_for(100ms);  // room for a duplicate to arrive
  monitor.StopCapture();

  const auto lines = LinesWithoutProbes(dir.Read("Logger.txt"));
  SCOPED_TRACE(dir.Read("Logger.txt"));
  EXPECT_EQ(Count(lines, R"(127\.0\.0\.1 - 127\.0\.0\.1 \{)" + c + R"(-8081\}, .*Flags: SYN,TAPI  /\*New session\*/ )"),
            1);
  EXPECT_EQ(Count(lines, R"(.*\{)" + c + R"(-8081\}, .*Flags: ACK,PUSH )"), 1);
  EXPECT_EQ(Count(lines, last), 1);
}

TEST_F(LiveCaptureTest, StopWithoutTrafficTakesAtMostAHundredMilliseconds) {
  Inside a(namespaces.a);
  monitor_test::RecordingMonitor monitor(dir.path());
  monitor.StartCapture();
  const int raw = RawSocket();
  ASSERT_TRUE(WaitUntilCapturing(monitor, raw, kAddressA, kAddressB));
  ::close(raw);
  std::this_thread::sleep_for(300ms);  // the receive now waits for traffic that never comes
  const auto start = std::chrono::steady_clock::now();
  monitor.StopCapture();
  const auto took = std::chrono::steady_clock::now() - start;
  RecordProperty("stop_microseconds",
                 std::to_string(std::chrono::duration_cast<std::chrono::microseconds>(took).count()));
  EXPECT_LE(took, 100ms) << std::chrono::duration_cast<std::chrono::milliseconds>(took).count() << " ms";
}

TEST_F(LiveCaptureTest, AddressOfAnotherNamespaceIsNotLocal) {
  Inside a(namespaces.a);
  monitor_test::StreamCapture streams;
  monitor_test::RecordingMonitor monitor(dir.path());
  monitor.m_addresses = {kAddressB};
  monitor.StartCapture();
  monitor.m_hThread.join();
  EXPECT_EQ(streams.Out(), "bind() failed: 10049\n");
}

// Clears one capability from the calling thread's effective set while it lives; threads
// started meanwhile inherit the reduced set.
class WithoutCapability {
 public:
  explicit WithoutCapability(int capability) : m_capability(capability) {
    __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
    ::syscall(SYS_capget, &header, m_saved);
    __user_cap_data_struct reduced[2] = {m_saved[0], m_saved[1]};
    reduced[capability / 32].effective &= ~(1u << (capability % 32));
    ::syscall(SYS_capset, &header, reduced);
  }
  ~WithoutCapability() {
    __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
    ::syscall(SYS_capset, &header, m_saved);
  }

 private:
  int m_capability;
  __user_cap_data_struct m_saved[2] = {};
};

TEST(CapturePermissionTest, WithoutTheRightToCaptureTheDiagnosticIsPrintedAndNothingShown) {
  WithoutCapability noRaw(CAP_NET_RAW);
  TempDir dir;
  monitor_test::StreamCapture streams;
  monitor_test::RecordingMonitor monitor(dir.path());
  monitor.m_addresses = {"127.0.0.1"};
  monitor.StartCapture();
  monitor.m_hThread.join();
  EXPECT_EQ(streams.Out(), "WSASocket() failed: 10013\n");
  EXPECT_EQ(streams.Err(), "");
  EXPECT_TRUE(monitor.Packets().empty());
}

}  // namespace
