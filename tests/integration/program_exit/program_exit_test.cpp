// The program's ways out, each run for real in a child process, as main() runs it: the
// firewall manager's failure while live capture on loopback is busy (root: a network
// namespace of the child's own), and SIGTERM or SIGINT while a capture file is read.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QElapsedTimer>

#include <arpa/inet.h>
#include <net/if.h>
#include <sched.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "app/brenvo_main.h"
#include "app/firewall_app.h"
#include "tests/monitor/monitor_test_support.h"
#include "tests/support/recording_services.h"
#include "tools/packet_builder.h"
#include "tools/synthetic_traffic.h"

CfirewallApp theApp;

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

// Message boxes that the user reads while the capture goes on, answered once the log has
// grown a little (or after two seconds).
class ReadingUser : public RecordingServices {
 public:
  int MessageBox(QWidget* owner, const QString& text, const QString& caption, UINT type) override {
    QElapsedTimer reading;
    reading.start();
    std::error_code missing;
    while (fs::file_size("Logger.txt", missing) < 2000 && reading.elapsed() < 2000)
      QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    return RecordingServices::MessageBox(owner, text, caption, type);
  }
};

// Starts the whole program in a child process working in `dir`: `prepare` first, then the
// program, then exit() with its status, which runs the static destructors as a return
// from main() does.
pid_t StartProgram(const fs::path& dir, std::vector<std::string> args, const std::function<void()>& prepare = {}) {
  const pid_t pid = ::fork();
  if (pid != 0) return pid;
  if (::chdir(dir.c_str()) != 0) ::_exit(120);
  // As from a terminal, also where the tests run as a background job that ignores SIGINT.
  std::signal(SIGINT, SIG_DFL);
  if (prepare) prepare();
  ReadingUser user;
  ScopedModalServices installed(user);
  args.insert(args.begin(), {"brenvo", "-platform", "offscreen"});
  std::vector<char*> argv;
  for (std::string& arg : args) argv.push_back(arg.data());
  std::exit(BrenvoMain(static_cast<int>(argv.size()), argv.data()));
}

// The child's wait status, or nothing when it is still running after `limit` (it is then killed).
std::optional<int> Wait(pid_t pid, std::chrono::steady_clock::duration limit = 30s) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  int status = 0;
  while (::waitpid(pid, &status, WNOHANG) == 0) {
    if (std::chrono::steady_clock::now() > deadline) {
      ::kill(pid, SIGKILL);
      ::waitpid(pid, &status, 0);
      return std::nullopt;
    }
    std::this_thread::sleep_for(2ms);
  }
  return status;
}

std::string Describe(std::optional<int> status) {
  if (!status) return "hung";
  if (WIFSIGNALED(*status)) return std::string("killed by ") + ::strsignal(WTERMSIG(*status));
  return "exit status " + std::to_string(WEXITSTATUS(*status));
}

bool LoopbackUp() {
  const int s = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  if (s < 0) return false;
  ifreq request{};
  std::strcpy(request.ifr_name, "lo");
  bool up = ::ioctl(s, SIOCGIFFLAGS, &request) == 0;
  request.ifr_flags |= IFF_UP;
  up = up && ::ioctl(s, SIOCSIFFLAGS, &request) == 0;
  ::close(s);
  return up;
}

// In the child: a network namespace of its own whose only interface is loopback, so that
// the program captures there, with SYNs to a closed port (and the kernel's resets) flowing
// until the child ends.
void BusyLoopbackOfItsOwn() {
  if (::unshare(CLONE_NEWNET) != 0 || !LoopbackUp()) ::_exit(121);
  const int raw = ::socket(AF_INET, SOCK_RAW | SOCK_CLOEXEC, IPPROTO_RAW);
  if (raw < 0) ::_exit(122);
  std::thread([raw] {
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    for (std::uint16_t port = 1024;; ++port) {
      const auto syn = tools::TcpDatagram(
          {.srcAddress = "127.0.0.1", .dstAddress = "127.0.0.1", .srcPort = port, .dstPort = 9, .flags = tools::kSyn});
      ::sendto(raw, syn.data(), syn.size(), 0, reinterpret_cast<const sockaddr*>(&to), sizeof to);
      std::this_thread::sleep_for(100us);
    }
  }).detach();
}

TEST(ProgramExitTest, FirewallManagerFailureEndsWithStatusOneWhileLiveCaptureRuns) {
  if (::geteuid() != 0) GTEST_SKIP() << "live capture on a loopback of its own needs root";
  TempDir dir;
  constexpr int kRuns = 50;
  int crashes = 0, others = 0;
  for (int run = 0; run < kRuns; ++run) {
    const auto status = Wait(
        StartProgram(dir.path(), {"--firewall=store", "--db", "/proc/brenvo/cannot/exist.db"}, BusyLoopbackOfItsOwn));
    if (status && WIFSIGNALED(*status))
      ++crashes;
    else if (!status || WEXITSTATUS(*status) != 1)
      ++others;
    if (!status || !WIFEXITED(*status) || WEXITSTATUS(*status) != 1)
      ADD_FAILURE() << "run " << run + 1 << ": " << Describe(status);
  }
  // The capture really ran: its lines are in the log of the last run.
  EXPECT_NE(dir.Read("Logger.txt").find("127.0.0.1 - 127.0.0.1"), std::string::npos);
  std::printf("firewall manager failure with live capture: %d runs, %d crashes, %d other ends\n", kRuns, crashes,
              others);
  RecordProperty("crashes", crashes);
  EXPECT_EQ(crashes, 0);
}

// SIGTERM and SIGINT end the program as Exit does: status 0, the log ends with a whole
// line, and the store was closed (SQLite removes its write-ahead log at the last close).
class EndSignalTest : public ::testing::TestWithParam<int> {};

TEST_P(EndSignalTest, EndsTheProgramCleanlyInTheMiddleOfACapture) {
  TempDir dir;
  constexpr std::uint64_t kSegments = 200'000;
  const std::string capture = (dir.path() / "traffic.pcap").string();
  ASSERT_TRUE(tools::WriteTrafficCapture(capture, kSegments, 100, tools::CaptureWriter::Format::Pcap));
  const pid_t pid = StartProgram(
      dir.path(), {"--firewall=store", "--db", (dir.path() / "firewall.db").string(), "--capture-file", capture});
  const auto deadline = std::chrono::steady_clock::now() + 30s;
  while (dir.Read("Logger.txt").empty() && std::chrono::steady_clock::now() < deadline)
    std::this_thread::sleep_for(1ms);
  ::kill(pid, GetParam());
  const auto status = Wait(pid);

  ASSERT_TRUE(status && WIFEXITED(*status) && WEXITSTATUS(*status) == 0) << Describe(status);
  const std::string log = dir.Read("Logger.txt");
  ASSERT_FALSE(log.empty());
  EXPECT_TRUE(log.ends_with("\r\n"));
  std::size_t lines = 0;
  for (std::size_t at = log.find("\r\n"); at != std::string::npos; at = log.find("\r\n", at + 2)) ++lines;
  EXPECT_LT(lines, kSegments) << "the capture had ended before the signal";
  EXPECT_TRUE(fs::exists(dir.path() / "firewall.db"));
  EXPECT_FALSE(fs::exists(dir.path() / "firewall.db-wal"));
}

INSTANTIATE_TEST_SUITE_P(Signals, EndSignalTest, ::testing::Values(SIGTERM, SIGINT),
                         [](const auto& info) { return std::string(sigabbrev_np(info.param)); });

}  // namespace
