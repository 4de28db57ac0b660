// The traffic page of a window that may not capture: brenvod captures in its network
// namespace and hands the window a socket. Windows (offscreen) run in the service's
// namespace as the test users, traffic comes from a second namespace. Needs root; skips with
// the reason where it cannot run.
#include <arpa/inet.h>
#include <fcntl.h>
#include <linux/netlink.h>
#include <linux/rtnetlink.h>
#include <linux/sock_diag.h>
#include <linux/unix_diag.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <memory>
#include <optional>
#include <regex>
#include <set>
#include <sstream>
#include <thread>

#include "daemon/capture_server.h"
#include "tests/integration/service/world_test.h"
#include "tests/integration/support/sockets.h"
#include "tests/monitor/monitor_test_support.h"
#include "tools/packet_builder.h"

namespace {

using namespace std::chrono_literals;
using monitor_test::Lines;
constexpr uid_t kAllowed = ServiceWorld::kAllowedUid;
constexpr uid_t kDenied = ServiceWorld::kDeniedUid;
constexpr const char* kA = NetnsPair::kAddressA;
constexpr const char* kB = NetnsPair::kAddressB;
constexpr std::uint16_t kProbePort = 1;  // readiness probes, left out of every comparison

std::string Read(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

void Touch(const std::string& path) { std::ofstream(path).put('\n'); }

template <class Condition>
bool Eventually(Condition condition, std::chrono::milliseconds limit = 20s) {
  for (const auto until = std::chrono::steady_clock::now() + limit; !condition();) {
    if (std::chrono::steady_clock::now() > until) return false;
    std::this_thread::sleep_for(10ms);
  }
  return true;
}

// Probes (port 1) make sure a window captures, end markers (port 2) that it has logged
// everything sent before them; neither belongs to the traffic compared.
const std::regex kLogProbe("\\{1-1\\}"), kLogEnd("\\{2-2\\}");
const std::regex kTreeProbe("Source Port:[. ]+1 \\|"), kTreeEnd("Source Port:[. ]+2 \\|");

std::vector<std::string> Compared(const std::vector<std::string>& lines, const std::regex& probe,
                                  const std::regex& end) {
  std::vector<std::string> kept;
  for (const std::string& line : lines) {
    if (std::regex_search(line, end)) break;
    if (!std::regex_search(line, probe)) kept.push_back(line);
  }
  return kept;
}

std::vector<std::string> LogLines(const std::string& log) { return Compared(Lines(log), kLogProbe, kLogEnd); }

// The tree as the window driver printed it.
std::vector<std::string> TreeLines(const std::string& output) {
  std::vector<std::string> tree;
  std::istringstream lines(output);
  for (std::string line; std::getline(lines, line);)
    if (line.starts_with("tree: ")) tree.push_back(line.substr(6));
  return Compared(tree, kTreeProbe, kTreeEnd);
}

void SendRaw(int raw, const tools::TcpSegment& segment) {
  const std::vector<std::uint8_t> datagram = tools::TcpDatagram(segment);
  const sockaddr_in to = Address(segment.dstAddress.c_str(), 0);
  ASSERT_EQ(sendto(raw, datagram.data(), datagram.size(), 0, reinterpret_cast<const sockaddr*>(&to), sizeof to),
            static_cast<ssize_t>(datagram.size()));
}

// How many of the process's descriptors are sockets, and how many threads it has.
std::size_t Sockets(pid_t pid) {
  std::size_t count = 0;
  for (const auto& entry : std::filesystem::directory_iterator("/proc/" + std::to_string(pid) + "/fd")) {
    std::error_code ignored;
    count += std::filesystem::read_symlink(entry.path(), ignored).string().starts_with("socket:");
  }
  return count;
}
std::size_t Threads(pid_t pid) {
  std::size_t count = 0;
  for ([[maybe_unused]] const auto& entry :
       std::filesystem::directory_iterator("/proc/" + std::to_string(pid) + "/task"))
    ++count;
  return count;
}

// Whether every SOCK_SEQPACKET socket the process holds is closed when it starts a program.
bool SeqpacketSocketsCloseOnExec(pid_t pid) {
  const std::string proc = "/proc/" + std::to_string(pid);
  std::ifstream unix(proc + "/net/unix");
  std::set<std::string> seqpacket;
  std::string line;
  std::getline(unix, line);  // the heading
  for (std::string number, references, protocol, flags, type, state, inode;
       unix >> number >> references >> protocol >> flags >> type >> state >> inode;) {
    if (type == "0005") seqpacket.insert("socket:[" + inode + "]");
    std::getline(unix, line);  // the path, if any
  }
  std::size_t found = 0;
  for (const auto& entry : std::filesystem::directory_iterator(proc + "/fd")) {
    std::error_code ignored;
    if (!seqpacket.count(std::filesystem::read_symlink(entry.path(), ignored).string())) continue;
    ++found;
    std::ifstream info(proc + "/fdinfo/" + entry.path().filename().string());
    std::string field, value;
    while (info >> field >> value && field != "flags:") {
    }
    if (!(std::stoul(value, nullptr, 8) & O_CLOEXEC)) return false;
  }
  return found > 0;
}

// What the kernel's socket diagnostics tell of the unix socket `inode` of the calling
// thread's network namespace: its peer's inode, and whether it has as much in flight to that
// peer as its send buffer allows (from then on every message it sends is refused).
struct UnixSocket {
  unsigned peer = 0;
  bool sendBufferFull = false;
};
std::optional<UnixSocket> Diagnose(unsigned inode) {
  const Fd diag(socket(AF_NETLINK, SOCK_DGRAM | SOCK_CLOEXEC, NETLINK_SOCK_DIAG));
  struct {
    nlmsghdr header;
    unix_diag_req request;
  } ask{};
  ask.header.nlmsg_len = sizeof ask;
  ask.header.nlmsg_type = SOCK_DIAG_BY_FAMILY;
  ask.header.nlmsg_flags = NLM_F_REQUEST;
  ask.request.sdiag_family = AF_UNIX;
  ask.request.udiag_states = ~0u;
  ask.request.udiag_ino = inode;
  ask.request.udiag_show = UDIAG_SHOW_PEER | UDIAG_SHOW_MEMINFO;
  ask.request.udiag_cookie[0] = ask.request.udiag_cookie[1] = ~0u;  // any socket of that inode
  if (send(diag.fd, &ask, sizeof ask, 0) != static_cast<ssize_t>(sizeof ask)) return std::nullopt;
  alignas(nlmsghdr) char answer[8192];
  const ssize_t length = recv(diag.fd, answer, sizeof answer, 0);
  const auto* reply = reinterpret_cast<const nlmsghdr*>(answer);
  if (length <= 0 || !NLMSG_OK(reply, static_cast<std::size_t>(length)) || reply->nlmsg_type != SOCK_DIAG_BY_FAMILY)
    return std::nullopt;
  const auto* info = static_cast<const unix_diag_msg*>(NLMSG_DATA(reply));
  int left = static_cast<int>(reply->nlmsg_len - NLMSG_LENGTH(sizeof *info));
  UnixSocket socket;
  for (auto* attribute = reinterpret_cast<const rtattr*>(info + 1); RTA_OK(attribute, left);
       attribute = RTA_NEXT(attribute, left)) {
    if (attribute->rta_type == UNIX_DIAG_PEER) socket.peer = *static_cast<const std::uint32_t*>(RTA_DATA(attribute));
    if (attribute->rta_type == UNIX_DIAG_MEMINFO) {
      const auto* memory = static_cast<const std::uint32_t*>(RTA_DATA(attribute));
      socket.sendBufferFull = memory[SK_MEMINFO_WMEM_ALLOC] >= memory[SK_MEMINFO_SNDBUF];
    }
  }
  return socket;
}

// Whether the peer of one of the process's unix sockets (in the calling thread's namespace)
// can send it nothing more.
bool APeerCannotSendTo(pid_t pid) {
  for (const auto& entry : std::filesystem::directory_iterator("/proc/" + std::to_string(pid) + "/fd")) {
    std::error_code ignored;
    const std::string target = std::filesystem::read_symlink(entry.path(), ignored).string();
    if (!target.starts_with("socket:[")) continue;
    const std::optional<UnixSocket> own = Diagnose(std::stoul(target.substr(8)));
    if (!own || own->peer == 0) continue;
    if (const std::optional<UnixSocket> peer = Diagnose(own->peer); peer && peer->sendBufferFull) return true;
  }
  return false;
}

std::set<std::string> ThreadIds(pid_t pid) {
  std::set<std::string> ids;
  for (const auto& entry : std::filesystem::directory_iterator("/proc/" + std::to_string(pid) + "/task"))
    ids.insert(entry.path().filename());
  return ids;
}

// Whether each of the process's `threads` still there sleeps in poll(): a capture's thread
// does so only once it has taken everything its capture holds.
bool AllWaitInPoll(pid_t pid, const std::set<std::string>& threads) {
  for (const std::string& id : threads) {
    const std::string task = "/proc/" + std::to_string(pid) + "/task/" + id;
    std::ifstream stat(task + "/stat");
    std::string line;
    if (!std::getline(stat, line)) continue;  // the thread has ended
    const std::size_t state = line.rfind(')') + 2;
    if (state >= line.size() || line[state] != 'S' || Read(task + "/wchan").find("poll") == std::string::npos)
      return false;
  }
  return true;
}

class TrafficTest : public WorldTest {
 protected:
  void SetUp() override {
    WorldTest::SetUp();
    if (IsSkipped() || HasFatalFailure()) return;
    InNamespace inB(m_netns->B());
    m_raw = std::make_unique<Fd>(socket(AF_INET, SOCK_RAW, IPPROTO_RAW));
  }

  std::string Path(const std::string& name) const { return m_world->Dir() + "/" + name; }
  std::string Logger(uid_t uid) const { return Read(m_world->Home(uid) + "/Logger.txt"); }
  // A window in the service's namespace; its output goes to `log` in the world's folder.
  pid_t Window(uid_t uid, std::vector<std::string> args, const std::string& log) const {
    args.insert(args.begin(), WINDOW_DRIVER_PATH);
    return m_world->Spawn(uid, args, Path(log), m_netns->A());
  }
  // A segment from B to A.
  void Send(tools::TcpSegment segment) {
    segment.srcAddress = kB;
    segment.dstAddress = kA;
    SendRaw(m_raw->fd, segment);
  }
  // Sends `segment` again and again until `uid`'s "Logger.txt" shows `line`.
  bool SendUntilLogged(uid_t uid, const tools::TcpSegment& segment, const std::string& line) {
    return Eventually([&] {
      Send(segment);
      std::this_thread::sleep_for(20ms);
      return Logger(uid).find(line) != std::string::npos;
    });
  }
  // Probes until the windows of every one of `uids` capture.
  bool WaitUntilCapturing(std::initializer_list<uid_t> uids) {
    const tools::TcpSegment probe{.srcPort = kProbePort, .dstPort = kProbePort, .flags = tools::kAck};
    for (const uid_t uid : uids)
      if (!SendUntilLogged(uid, probe, "{1-1}")) return false;
    return true;
  }

  std::unique_ptr<Fd> m_raw;  // in namespace B
};

TEST_F(TrafficTest, AnAllowedUsersWindowShowsWhatAnInProcessCaptureShows) {
  const std::string go = Path("go");
  const pid_t user = Window(kAllowed, {"--capture", "wait-for", go, "show-traffic"}, "user.log");
  // Root's window on a store of its own captures by itself.
  const pid_t root = Window(
      0, {"--capture", "--firewall=store", "--db=" + Path("root.db"), "wait-for", go, "show-traffic"}, "root.log");
  ASSERT_TRUE(WaitUntilCapturing({kAllowed, 0}));

  // A real connection from B: handshake, data, both sides closed.
  std::unique_ptr<Fd> listener;
  {
    InNamespace inA(m_netns->A());
    listener = std::make_unique<Fd>(TcpServer(8080));
  }
  {
    InNamespace inB(m_netns->B());
    const Fd client(ConnectTcp(kA, 8080));
    ASSERT_GE(client.fd, 0);
    const Fd server(accept(listener->fd, nullptr, nullptr));
    ASSERT_EQ(send(client.fd, "hello brenvo", 12, 0), 12);
    shutdown(client.fd, SHUT_WR);
    char received[16];
    EXPECT_EQ(recv(server.fd, received, sizeof received, MSG_WAITALL), 12);
  }
  // A crafted session: a SYN, data before it and far beyond it, a RST.
  const std::uint32_t base = 1000000;
  const auto crafted = [&](std::uint32_t seq, std::uint8_t flags, std::uint32_t payload) {
    Send({.srcPort = 40000, .dstPort = 9000, .seq = seq, .flags = flags, .payloadBytes = payload});
  };
  crafted(base, tools::kSyn, 0);
  crafted(base - 1, tools::kAck | tools::kPsh, 10);
  crafted(base + 10240001, tools::kAck | tools::kPsh, 10);
  crafted(base + 1, tools::kRst, 0);
  const tools::TcpSegment end{.srcPort = 2, .dstPort = 2, .flags = tools::kAck};
  EXPECT_TRUE(SendUntilLogged(kAllowed, end, "{2-2}"));
  EXPECT_TRUE(SendUntilLogged(0, end, "{2-2}"));
  Touch(go);
  EXPECT_EQ(WaitFor(user), 0);
  EXPECT_EQ(WaitFor(root), 0);

  const std::vector<std::string> lines = LogLines(Logger(kAllowed));
  EXPECT_EQ(lines, LogLines(Logger(0)));
  const std::string all = Logger(kAllowed);
  for (const char* expected :
       {"-8080}", "{8080-", "Flags: SYN,ACK", "Flags: FIN,ACK", " /*New session*/ ", " { Gap < 0 }", " { Gap > 10 MB }",
        "{40000-9000}, len: 0, seq: 1000001,ack: 0, Flags: RST "})
    EXPECT_NE(all.find(expected), std::string::npos) << expected << " missing in\n" << all;
  const std::string userOutput = Read(Path("user.log")), rootOutput = Read(Path("root.log"));
  const std::vector<std::string> tree = TreeLines(userOutput);
  EXPECT_EQ(tree.size(), lines.size());
  EXPECT_EQ(tree, TreeLines(rootOutput));
  EXPECT_NE(userOutput.find("Binding to: \n"), std::string::npos) << userOutput;
  EXPECT_NE(userOutput.find("brenvo: the service dropped 0 datagrams"), std::string::npos) << userOutput;
}

TEST_F(TrafficTest, ADeniedUserGetsTheNoPermissionDiagnosticAndAWindowThatWorks) {
  const std::string go = Path("go");
  const pid_t window = Window(kDenied, {"--capture", "wait-for", go, "show", "show-traffic"}, "denied.log");
  EXPECT_TRUE(Eventually([&] { return Read(Path("denied.log")).find("bind() failed: 10013\n") != std::string::npos; }))
      << Read(Path("denied.log"));
  Send({.srcPort = 40001, .dstPort = 9001, .flags = tools::kSyn});
  Touch(go);
  EXPECT_EQ(WaitFor(window), 0);

  const std::string output = Read(Path("denied.log"));
  EXPECT_NE(output.find("uid 4202 is not authorized for org.brenvo.traffic.view"), std::string::npos) << output;
  EXPECT_NE(output.find("firewall: off\n"), std::string::npos) << output;
  EXPECT_EQ(output.find("tree: "), std::string::npos) << output;
  EXPECT_EQ(output.find("dropped"), std::string::npos) << output;
  EXPECT_EQ(Logger(kDenied), "");
}

// The service refuses a user's capture past its limit; the window says so with the number of
// too many sockets and the service's reason, and its captures that run are not disturbed.
TEST_F(TrafficTest, AUsersWindowPastTheLimitGetsTheTooManySocketsDiagnostic) {
  const std::string go = Path("go");
  const pid_t service = m_world->ServicePid();
  const std::size_t threads = Threads(service);
  std::vector<pid_t> held;
  for (std::size_t i = 0; i < CaptureServer::kMaxPerUser; ++i)
    held.push_back(Window(kAllowed, {"--capture", "wait-for", go}, "held" + std::to_string(i) + ".log"));
  // A thread for each capture.
  ASSERT_TRUE(Eventually([&] { return Threads(service) >= threads + CaptureServer::kMaxPerUser; }));
  const pid_t refused = Window(kAllowed, {"--capture", "wait-for", go}, "refused.log");
  EXPECT_TRUE(Eventually([&] { return Read(Path("refused.log")).find("bind() failed: 10024\n") != std::string::npos; }))
      << Read(Path("refused.log"));
  Touch(go);
  EXPECT_EQ(WaitFor(refused), 0);
  for (const pid_t window : held) EXPECT_EQ(WaitFor(window), 0);

  const std::string output = Read(Path("refused.log"));
  const std::string reason =
      "uid " + std::to_string(kAllowed) + " has " + std::to_string(CaptureServer::kMaxPerUser) + " captures already";
  EXPECT_NE(output.find(reason), std::string::npos) << output;
  EXPECT_EQ(output.find("dropped"), std::string::npos) << output;
  EXPECT_NE(Read(Path("held0.log")).find("the service dropped "), std::string::npos);
}

TEST_F(TrafficTest, TheServiceStopsTheCaptureOfAKilledWindow) {
  const pid_t service = m_world->ServicePid();
  const std::size_t sockets = Sockets(service), threads = Threads(service);
  const pid_t window = Window(kAllowed, {"--capture", "wait-for", Path("never")}, "killed.log");
  ASSERT_TRUE(WaitUntilCapturing({kAllowed}));
  EXPECT_GT(Sockets(service), sockets);
  EXPECT_GT(Threads(service), threads);
  // A program the window starts must not keep the capture going after the window has gone.
  EXPECT_TRUE(SeqpacketSocketsCloseOnExec(window));

  const auto killed = std::chrono::steady_clock::now();
  kill(window, SIGKILL);
  WaitFor(window);
  EXPECT_TRUE(Eventually([&] { return Sockets(service) == sockets && Threads(service) == threads; }))
      << Sockets(service) << " sockets, " << Threads(service) << " threads";
  const auto took = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - killed);
  RecordProperty("stop_milliseconds", std::to_string(took.count()));
  std::printf("the service stopped the capture %lld ms after the window was killed\n",
              static_cast<long long>(took.count()));
}

TEST_F(TrafficTest, AWindowThatStopsReadingLosesDatagramsAndHoldsUpNoOtherClient) {
  const std::string unblock = Path("unblock"), go = Path("go");
  const pid_t service = m_world->ServicePid();
  const std::set<std::string> serviceThreads = ThreadIds(service);
  const pid_t stalled = Window(kAllowed, {"--capture", "block-until", unblock, "wait-for", go}, "stalled.log");
  // Root's window through the service: a second client.
  const pid_t reader = Window(0, {"--capture", "wait-for", go}, "reader.log");
  ASSERT_TRUE(WaitUntilCapturing({kAllowed, 0}));
  std::set<std::string> captureThreads;
  for (const std::string& id : ThreadIds(service))
    if (!serviceThreads.count(id)) captureThreads.insert(id);
  ASSERT_FALSE(captureThreads.empty());

  // Datagrams until the stalled window's socket holds all it can: how many that takes
  // depends on how many share a message. A answers each with a RST, too.
  std::uint32_t seq = 0;
  EXPECT_TRUE(Eventually(
      [&] {
        for (const std::uint32_t end = seq + 2000; seq < end; ++seq)
          Send({.srcPort = 50000, .dstPort = 9002, .seq = seq, .flags = tools::kAck});
        InNamespace inA(m_netns->A());
        return APeerCannotSendTo(stalled);
      },
      60s))
      << "the stalled window's socket never filled up";
  // The other client is served all the same. Every capture saw that segment when the other
  // window did; once the captures' threads wait for more, the stalled one has dropped it.
  EXPECT_TRUE(SendUntilLogged(0, {.srcPort = 50001, .dstPort = 9003, .flags = tools::kSyn}, "{50001-9003}"))
      << "the second client was not served";
  EXPECT_TRUE(Eventually([&] { return AllWaitInPoll(service, captureThreads); }))
      << "the service's captures did not go idle";
  Touch(unblock);
  Touch(go);
  EXPECT_EQ(WaitFor(stalled), 0);
  EXPECT_EQ(WaitFor(reader), 0);

  const std::string output = Read(Path("stalled.log"));
  std::smatch dropped;
  ASSERT_TRUE(std::regex_search(output, dropped, std::regex("the service dropped (\\d+) datagrams"))) << output;
  EXPECT_GT(std::stoull(dropped[1]), 0u) << output;
  EXPECT_NE(Read(Path("reader.log")).find("the service dropped "), std::string::npos);
}

}  // namespace
