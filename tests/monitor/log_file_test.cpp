// "Logger.txt": emptied at start, never opened through a link, one line per segment.
#include "tests/monitor/monitor_test_support.h"
#include "tools/packet_builder.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <fstream>

namespace {

namespace fs = std::filesystem;

void WriteFile(const fs::path& path, const std::string& text) { std::ofstream(path, std::ios::binary) << text; }

void FeedSyn(CTrafficMonitor& monitor) {
  const auto d = tools::TcpDatagram({.flags = tools::kSyn});
  monitor.DecodeIpPacket(d.data(), static_cast<std::uint32_t>(d.size()));
}

TEST(LogFileTest, EachStartBeginsANewLog) {
  monitor_test::TempDir dir;
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
  monitor_test::TempDir dir;
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
  monitor_test::TempDir dir;
  ASSERT_EQ(::mkfifo((dir.path() / "Logger.txt").c_str(), 0600), 0);
  monitor_test::RecordingMonitor monitor(dir.path());  // must return
  FeedSyn(monitor);
  EXPECT_TRUE(monitor.Packets().empty());
}

TEST(LogFileTest, MissingDirectoryDropsEverySegment) {
  monitor_test::TempDir dir;
  monitor_test::RecordingMonitor monitor(dir.path() / "missing");
  FeedSyn(monitor);
  FeedSyn(monitor);
  EXPECT_TRUE(monitor.Packets().empty());
}

TEST(LogFileTest, WritesEachLineWhole) {
  monitor_test::TempDir dir;
  LogFile log;
  ASSERT_TRUE(log.Open((dir.path() / "Logger.txt").string()));
  EXPECT_TRUE(log.Write("one\r\n"));
  // Visible at once, without a flush or a close.
  EXPECT_EQ(dir.Read("Logger.txt"), "one\r\n");
  EXPECT_TRUE(log.Write(std::string(5000, 'x') + "\r\n"));
  EXPECT_EQ(dir.Read("Logger.txt").size(), 5 + 5002u);

  LogFile closed;
  EXPECT_FALSE(closed.Write("lost\r\n"));
}

}  // namespace
