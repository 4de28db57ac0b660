// "Logger.txt": emptied at start, never opened through a link, one whole line per segment,
// also when the disk or the file-size limit refuses a line.
#include "tests/monitor/monitor_test_support.h"
#include "tools/packet_builder.h"

#include <gtest/gtest.h>

#include <sched.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <fstream>
#include <functional>
#include <iterator>

namespace {

namespace fs = std::filesystem;

void WriteFile(const fs::path& path, const std::string& text) { std::ofstream(path, std::ios::binary) << text; }

std::string ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), {}};
}

void FeedSyn(CTrafficMonitor& monitor, std::uint16_t srcPort = 1025) {
  const auto d = tools::TcpDatagram({.srcPort = srcPort, .flags = tools::kSyn});
  monitor.DecodeIpPacket(d.data(), static_cast<std::uint32_t>(d.size()));
}

TEST(LogFileTest, EachStartBeginsANewLog) {
  TempDir dir;
  WriteFile(dir.path() / "Logger.txt", "a line of an earlier run\r\n");
  {
    monitor_test::RecordingMonitor first(dir.path());
    EXPECT_EQ(dir.Read("Logger.txt"), "");
    FeedSyn(first);
    FeedSyn(first);
  }
  EXPECT_EQ(monitor_test::Lines(dir.Read("Logger.txt")).size(), 2u);
  monitor_test::RecordingMonitor second(dir.path());
  FeedSyn(second);
  const auto lines = monitor_test::Lines(dir.Read("Logger.txt"));
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_NE(lines[0].find("/*New session*/"), std::string::npos);
}

TEST(LogFileTest, LinkInPlaceOfTheLogIsNotFollowedAndSegmentsAreDropped) {
  TempDir dir;
  const fs::path victim = dir.path() / "precious.txt";
  WriteFile(victim, "keep me");
  fs::create_symlink(victim, dir.path() / "Logger.txt");

  monitor_test::RecordingMonitor monitor(dir.path());
  FeedSyn(monitor);

  EXPECT_EQ(dir.Read("precious.txt"), "keep me");
  EXPECT_TRUE(fs::is_symlink(dir.path() / "Logger.txt"));
  EXPECT_TRUE(monitor.Packets().empty());
  // The session step still ran: only the line and the tree items are lost.
  EXPECT_EQ(monitor.m_sessions.GetSize(), 1u);
}

TEST(LogFileTest, FifoInPlaceOfTheLogNeitherBlocksNorReceivesLines) {
  TempDir dir;
  ASSERT_EQ(::mkfifo((dir.path() / "Logger.txt").c_str(), 0600), 0);
  monitor_test::RecordingMonitor monitor(dir.path());  // must return
  FeedSyn(monitor);
  EXPECT_TRUE(monitor.Packets().empty());
}

TEST(LogFileTest, MissingDirectoryDropsEverySegment) {
  TempDir dir;
  monitor_test::RecordingMonitor monitor(dir.path() / "missing");
  FeedSyn(monitor);
  FeedSyn(monitor);
  EXPECT_TRUE(monitor.Packets().empty());
}

TEST(LogFileTest, WritesEachLineWhole) {
  TempDir dir;
  LogFile log = LogFile::Open((dir.path() / "Logger.txt").string());
  ASSERT_TRUE(log.IsOpen());
  EXPECT_TRUE(log.Write("one\r\n"));
  // Visible at once, without a flush or a close.
  EXPECT_EQ(dir.Read("Logger.txt"), "one\r\n");
  EXPECT_TRUE(log.Write(std::string(5000, 'x') + "\r\n"));
  EXPECT_EQ(dir.Read("Logger.txt").size(), 5 + 5002u);

  LogFile closed;
  EXPECT_FALSE(closed.Write("lost\r\n"));
}

TEST(LogFileTest, ALineTooLongToBuildIsDroppedWhole) {
  TempDir dir;
  monitor_test::RecordingMonitor monitor(dir.path());
  monitor.LogTcpSegment(
      0, 0,
      net::TcpHeader{
          .sourcePort = 1025, .destinationPort = 80, .sequence = 0, .acknowledgement = 0, .flags = tools::kAck},
      0, std::string(300, '!'));
  EXPECT_EQ(dir.Read("Logger.txt"), "");
  EXPECT_TRUE(monitor.Packets().empty());
  FeedSyn(monitor);
  EXPECT_EQ(monitor_test::Lines(dir.Read("Logger.txt")).size(), 1u);
}

// Runs `body` in a child process and gives what it returned, or how the child ended when
// it did not get to return.
std::string InChild(const std::function<std::string()>& body) {
  int result[2];
  if (::pipe(result) != 0) return "no pipe";
  const pid_t pid = ::fork();
  if (pid == 0) {
    ::close(result[0]);
    const std::string text = body();
    [[maybe_unused]] const ssize_t written = ::write(result[1], text.data(), text.size());
    ::_exit(0);
  }
  ::close(result[1]);
  std::string text;
  char buffer[512];
  for (ssize_t n; (n = ::read(result[0], buffer, sizeof buffer)) > 0;) text.append(buffer, static_cast<std::size_t>(n));
  ::close(result[0]);
  int status = 0;
  ::waitpid(pid, &status, 0);
  if (WIFSIGNALED(status)) return std::string("the child was killed by ") + ::strsignal(WTERMSIG(status));
  return text;
}

// Feeds SYNs of new sessions until the log refuses one, then makes room and feeds one
// more. Gives what went wrong, or "" when the log held one whole line per segment shown
// throughout and the segment after the room was made was logged and shown.
std::string FillTheLogThenMakeRoom(const fs::path& dir, const std::function<bool()>& makeRoom) {
  monitor_test::RecordingMonitor monitor(dir);
  std::uint16_t port = 1;
  std::size_t shown = 0;
  for (; port < 60000; ++port) {
    FeedSyn(monitor, port);
    if (monitor.Packets().size() == shown) break;
    shown = monitor.Packets().size();
  }
  if (port == 60000) return "the log never filled up";
  const auto whole = [&](std::size_t segments) -> std::string {
    const std::string log = ReadFile(dir / "Logger.txt");
    if (!log.ends_with("\r\n")) return "the log ends in a partial line: ..." + log.substr(log.size() - 20);
    if (monitor_test::Lines(log).size() != segments) return "the log and the tree disagree";
    return "";
  };
  if (const std::string problem = whole(shown); !problem.empty()) return problem;
  if (!makeRoom()) return "no room could be made";
  FeedSyn(monitor, ++port);
  if (monitor.Packets().size() != shown + 1) return "the segment after the room was made is not shown";
  if (const std::string problem = whole(shown + 1); !problem.empty()) return problem;
  const std::string last = monitor_test::Lines(ReadFile(dir / "Logger.txt")).back();
  if (last.find("{" + std::to_string(port) + "-80}") == std::string::npos) return "the last line is " + last;
  return "";
}

TEST(LogFileTest, AFileSizeLimitDropsTheSegmentItRefusesAndNothingElse) {
  TempDir dir;
  EXPECT_EQ(InChild([&] {
              rlimit limit;
              ::getrlimit(RLIMIT_FSIZE, &limit);
              const auto limitTo = [&](rlim_t bytes) {
                const rlimit lowered{bytes, limit.rlim_max};
                return ::setrlimit(RLIMIT_FSIZE, &lowered) == 0;
              };
              // A write that starts at the limit fails, and the kernel sends SIGXFSZ.
              if (!limitTo(0)) return std::string("cannot lower the limit");
              {
                monitor_test::RecordingMonitor monitor(dir.path());
                FeedSyn(monitor);
                if (!monitor.Packets().empty()) return std::string("a segment past the limit was shown");
              }
              // ulimit -f 64: the line that crosses the limit is written only in part.
              limitTo(64 * 1024);
              return FillTheLogThenMakeRoom(dir.path(), [&] { return ::setrlimit(RLIMIT_FSIZE, &limit) == 0; });
            }),
            "");
}

TEST(LogFileTest, AFullFileSystemDropsTheSegmentItRefusesAndNothingElse) {
  if (::geteuid() != 0) GTEST_SKIP() << "mounting a small file system of the test's own needs root";
  TempDir dir;
  const fs::path small = dir.path() / "small";
  fs::create_directory(small);
  const std::string result = InChild([&] {
    // The mount lives in the child's own mount namespace and ends with it.
    if (::unshare(CLONE_NEWNS) != 0 || ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
        ::mount("brenvo-test", small.c_str(), "tmpfs", 0, "size=64k") != 0)
      return std::string("skip: no mount namespace of its own: ") + std::strerror(errno);
    return FillTheLogThenMakeRoom(
        small, [&] { return ::mount(nullptr, small.c_str(), nullptr, MS_REMOUNT, "size=128k") == 0; });
  });
  if (result.starts_with("skip: ")) GTEST_SKIP() << result;
  EXPECT_EQ(result, "");
}

}  // namespace
