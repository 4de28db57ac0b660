// TCP session tracking: which segments open, move and close sessions, and the markers.
#include "tests/monitor/monitor_test_support.h"
#include "tools/packet_builder.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <sys/resource.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>

namespace {

using tools::kAck;
using tools::kFin;
using tools::kPsh;
using tools::kRst;
using tools::kSyn;

class SessionTest : public ::testing::Test {
 protected:
  // Sends one segment from A (10.0.0.2:1025) to B (10.0.0.1:80), or back, and returns
  // the marker of the line it logged.
  std::string Send(bool fromA, std::uint32_t seq, std::uint8_t flags, std::uint32_t payload = 0) {
    tools::TcpSegment s{.seq = seq, .flags = flags, .payloadBytes = payload};
    if (!fromA) {
      std::swap(s.srcAddress, s.dstAddress);
      std::swap(s.srcPort, s.dstPort);
    }
    const auto d = tools::TcpDatagram(s);
    monitor.DecodeIpPacket(d.data(), static_cast<std::uint32_t>(d.size()));
    const auto lines = monitor_test::Lines(dir.Read("Logger.txt"));
    if (lines.size() != ++logged) return "<no line>";
    const std::string& line = lines.back();
    const std::size_t flagsAt = line.find(", Flags: ");
    return line.substr(line.find(' ', flagsAt + 9) + 1);
  }
  std::string FromA(std::uint32_t seq, std::uint8_t flags, std::uint32_t payload = 0) {
    return Send(true, seq, flags, payload);
  }
  std::string FromB(std::uint32_t seq, std::uint8_t flags, std::uint32_t payload = 0) {
    return Send(false, seq, flags, payload);
  }

  static constexpr const char* kNew = " /*New session*/ ";
  static constexpr const char* kBelow = " { Gap < 0 }";
  static constexpr const char* kAbove = " { Gap > 10 MB }";

  TempDir dir;
  monitor_test::RecordingMonitor monitor{dir.path()};
  std::size_t logged = 0;
};

TEST_F(SessionTest, GapIsMeasuredFromTheSynAtTheDocumentedLimits) {
  const std::uint32_t base = 5000;
  EXPECT_EQ(FromA(base, kSyn), kNew);
  EXPECT_EQ(FromA(base + 1, kAck | kPsh, 10), "");
  EXPECT_EQ(FromA(base + 10240000, kAck, 10), "");
  EXPECT_EQ(FromA(base + 10240001, kAck, 10), kAbove);
  EXPECT_EQ(FromA(base - 1, kAck, 10), kBelow);
  // Data segments never move the base.
  EXPECT_EQ(FromA(base + 10240001, kAck, 10), kAbove);
  // Without data a segment is never gap-marked.
  EXPECT_EQ(FromA(base - 1, kAck), "");
  EXPECT_EQ(FromA(base + 20000000, kAck), "");
}

TEST_F(SessionTest, GapCountsTheSignedDistanceAcrossTheWrap) {
  EXPECT_EQ(FromA(4294967000u, kSyn), kNew);  // 2^32 - 296
  EXPECT_EQ(FromA(500, kAck, 1), "");         // 796 bytes on
  EXPECT_EQ(FromA(4294966999u, kAck, 1), kBelow);
  // More than 2^31 ahead reads as behind.
  EXPECT_EQ(FromA(4294967000u + 2147483648u, kAck, 1), kBelow);
}

TEST_F(SessionTest, EachDirectionIsASessionOfItsOwn) {
  EXPECT_EQ(FromA(100, kSyn), kNew);
  EXPECT_EQ(FromB(900, kSyn | kAck), kNew);  // the responder's SYN-ACK
  EXPECT_EQ(monitor.m_sessions.GetSize(), 2u);

  // A's FIN closes A to B only; its own line has no marker.
  EXPECT_EQ(FromA(101, kFin | kAck), "");
  EXPECT_EQ(monitor.m_sessions.GetSize(), 1u);
  // A to B is gone: far data is not gap-marked and opens nothing.
  EXPECT_EQ(FromA(100 + 20000000, kAck, 5), "");
  EXPECT_EQ(monitor.m_sessions.GetSize(), 1u);
  // B to A is still measured from its SYN-ACK.
  EXPECT_EQ(FromB(900 + 20000000, kAck, 5), kAbove);
  EXPECT_EQ(FromB(901, kRst), "");
  EXPECT_EQ(monitor.m_sessions.GetSize(), 0u);
  // A new SYN opens the direction again.
  EXPECT_EQ(FromA(7, kSyn), kNew);
}

TEST_F(SessionTest, SynOnAnOpenSessionOnlyMovesItsBase) {
  EXPECT_EQ(FromA(0, kSyn), kNew);
  // A retransmitted SYN, even with FIN or RST set, keeps the session and moves its base.
  EXPECT_EQ(FromA(30000000, kSyn), "");
  EXPECT_EQ(FromA(30000000 + 5, kAck, 5), "");
  EXPECT_EQ(FromA(60000000, kSyn | kFin), "");
  EXPECT_EQ(FromA(60000000 - 1, kAck, 5), kBelow);
  EXPECT_EQ(FromA(90000000, kSyn | kRst), "");
  EXPECT_EQ(monitor.m_sessions.GetSize(), 1u);
  EXPECT_EQ(monitor.m_sessions.begin()->baseSeq, 90000000u);
}

TEST_F(SessionTest, SegmentsWithoutSynOpenNothing) {
  EXPECT_EQ(FromA(1, kAck, 100), "");
  EXPECT_EQ(FromA(2, kFin), "");
  EXPECT_EQ(FromA(3, kRst), "");
  EXPECT_EQ(monitor.m_sessions.GetSize(), 0u);
}

// The same with room for one session only.
class FullSessionListTest : public SessionTest {
 protected:
  static void SetUpTestSuite() { CTrafficMonitor::SetMaxSessions(1); }
  static void TearDownTestSuite() { CTrafficMonitor::SetMaxSessions(SessionList::kDefaultLimit); }
};

TEST_F(FullSessionListTest, ADroppedSessionComesBackAsANewOne) {
  EXPECT_EQ(FromA(100, kSyn), kNew);
  EXPECT_EQ(FromB(900, kSyn | kAck), kNew);  // drops A to B
  EXPECT_EQ(monitor.m_sessions.GetSize(), 1u);

  // A's next segment opens its direction again, measured from its own sequence number.
  EXPECT_EQ(FromA(20000000, kAck, 10), kNew);
  EXPECT_EQ(FromA(20000000 + 10240001, kAck, 10), kAbove);
  EXPECT_EQ(FromB(901, kAck, 10), kNew);

  // A dropped session that ends is not opened again, neither by its FIN nor afterwards.
  EXPECT_EQ(FromA(20000100, kFin | kAck), "");
  EXPECT_EQ(FromA(20000101, kAck, 10), "");
  EXPECT_EQ(monitor.m_sessions.GetSize(), 1u);
  EXPECT_EQ(monitor.m_sessions.begin()->srcPort, 80);
}

std::uint32_t Ip(const char* text) { return ::inet_addr(text); }

Session MakeSession(std::int32_t srcPort, const char* src = "10.0.0.2", std::uint32_t baseSeq = 0) {
  return {srcPort, 80, Ip(src), Ip("10.0.0.1"), baseSeq};
}

TEST(SessionListTest, KeepsOpeningOrderAndFreesWhatLeaves) {
  SessionList list;
  for (int i = 0; i < 5; ++i) list.Add(MakeSession(1000 + i, "10.0.0.2", static_cast<std::uint32_t>(i)));
  list.Remove(*list.Find(Ip("10.0.0.2"), 1002, Ip("10.0.0.1"), 80));

  std::vector<std::int32_t> ports;
  for (const Session& s : list) ports.push_back(s.srcPort);
  EXPECT_EQ(ports, (std::vector<std::int32_t>{1000, 1001, 1003, 1004}));
  EXPECT_EQ(list.Find(Ip("10.0.0.2"), 1002, Ip("10.0.0.1"), 80), nullptr);
  // The key is ordered: the reverse direction is another session.
  EXPECT_EQ(list.Find(Ip("10.0.0.1"), 80, Ip("10.0.0.2"), 1003), nullptr);
  EXPECT_EQ(list.Find(Ip("10.0.0.2"), 1003, Ip("10.0.0.1"), 80)->baseSeq, 3u);

  for (int round = 0; round < 1000; ++round) list.Remove(list.Add(MakeSession(5, "1.1.1.1")));
  EXPECT_EQ(list.GetSize(), 4u);
}

TEST(SessionListTest, StaysConsistentThroughGrowthAndRemovalsInAnyOrder) {
  // Many sessions, removed in a scrambled order while others are added, compared with
  // a plain model of what must be open.
  SessionList list;
  std::vector<std::int32_t> open;
  std::uint32_t state = 12345;
  const auto next = [&] { return state = state * 1103515245 + 12345; };
  for (std::int32_t port = 0; port < 20000; ++port) {
    list.Add(MakeSession(port, "192.168.1.1", static_cast<std::uint32_t>(port)));
    open.push_back(port);
    if (next() % 3 == 0) {
      const std::size_t victim = next() % open.size();
      list.Remove(*list.Find(Ip("192.168.1.1"), open[victim], Ip("10.0.0.1"), 80));
      open.erase(open.begin() + static_cast<std::ptrdiff_t>(victim));
    }
  }
  ASSERT_EQ(list.GetSize(), open.size());
  std::vector<std::int32_t> listed;
  for (const Session& s : list) listed.push_back(s.srcPort);
  EXPECT_EQ(listed, open);  // opening order survives growth and moves
  for (const std::int32_t port : open) {
    const Session* s = list.Find(Ip("192.168.1.1"), port, Ip("10.0.0.1"), 80);
    ASSERT_NE(s, nullptr) << port;
    EXPECT_EQ(s->baseSeq, static_cast<std::uint32_t>(port));
  }
  EXPECT_EQ(list.Find(Ip("192.168.1.1"), 20000, Ip("10.0.0.1"), 80), nullptr);
}

TEST(SessionListTest, BothDirectionsOfAConnectionAreKeptApart) {
  // The two directions of a connection share where their search starts; closing either
  // one, in any order, while others come and go, leaves the other one found.
  SessionList list;
  const auto there = [](std::int32_t n) { return Session{1024 + n, 443, Ip("192.168.1.7"), Ip("10.9.8.7"), 0}; };
  const auto back = [](std::int32_t n) {
    return Session{443, 1024 + n, Ip("10.9.8.7"), Ip("192.168.1.7"), static_cast<std::uint32_t>(n)};
  };
  for (std::int32_t n = 0; n < 3000; ++n) {
    list.Add(n % 2 ? back(n) : there(n));
    list.Add(n % 2 ? there(n) : back(n));
    if (n % 3 == 0) list.Remove(n % 2 ? back(n) : there(n));
  }
  for (std::int32_t n = 0; n < 3000; ++n) {
    const Session t = there(n), b = back(n);
    const bool thereOpen = n % 3 != 0 || n % 2 != 0, backOpen = n % 3 != 0 || n % 2 == 0;
    ASSERT_EQ(list.Find(t.srcAddress, t.srcPort, t.dstAddress, t.dstPort) != nullptr, thereOpen) << n;
    const Session* found = list.Find(b.srcAddress, b.srcPort, b.dstAddress, b.dstPort);
    ASSERT_EQ(found != nullptr, backOpen) << n;
    if (found) {
      EXPECT_EQ(found->baseSeq, static_cast<std::uint32_t>(n));
    }
  }
}

// Session number n: from 10.a.b.c, where a.b.c spell n, to 10.0.0.1:80.
Session Numbered(std::uint32_t n) {
  char address[16];
  std::snprintf(address, sizeof address, "10.%u.%u.%u", n >> 16 & 0xFF, n >> 8 & 0xFF, n & 0xFF);
  return MakeSession(1000, address, n);
}

const Session* FindNumbered(SessionList& list, std::uint32_t n) {
  return list.Find(Numbered(n).srcAddress, 1000, Ip("10.0.0.1"), 80);
}

bool Listed(const SessionList& list, std::int32_t srcPort) {
  for (const Session& s : list)
    if (s.srcPort == srcPort) return true;
  return false;
}

TEST(SessionListTest, AFullListDropsTheSessionSeenLongestAgo) {
  SessionList list(3);
  for (const std::int32_t port : {1, 2, 3}) list.Add(MakeSession(port));
  ASSERT_NE(list.Find(Ip("10.0.0.2"), 1, Ip("10.0.0.1"), 80), nullptr);

  // 1 was opened first but seen since; 2 was not.
  list.Add(MakeSession(4));
  EXPECT_EQ(list.GetSize(), 3u);
  EXPECT_FALSE(Listed(list, 2));
  EXPECT_TRUE(Listed(list, 1));
  EXPECT_TRUE(Listed(list, 4));
  // The list knows what it dropped, and says it once.
  EXPECT_TRUE(list.TakeDropped(MakeSession(2)));
  EXPECT_FALSE(list.TakeDropped(MakeSession(2)));
  EXPECT_FALSE(list.TakeDropped(MakeSession(1)));  // still open
  EXPECT_FALSE(list.TakeDropped(MakeSession(9)));  // never there

  // 3 is the oldest now; a dropped session that is added again is no longer "dropped".
  list.Add(MakeSession(5));
  EXPECT_FALSE(Listed(list, 3));
  list.Add(MakeSession(3));
  EXPECT_FALSE(list.TakeDropped(MakeSession(3)));
  EXPECT_TRUE(list.TakeDropped(MakeSession(1)));  // the oldest again, unseen since
}

TEST(SessionListTest, StaysBoundedUnderAFloodAndKeepsTheSessionsInUse) {
  // 200,000 sessions through a list of 1,000, some closed early (which moves slots back
  // in the table), while 100 sessions in use are looked up every 500 new ones.
  constexpr std::size_t kLimit = 1000;
  SessionList list(kLimit);
  for (std::uint32_t hot = 0; hot < 100; ++hot) list.Add(Numbered(hot));
  for (std::uint32_t n = 100; n < 200100; ++n) {
    list.Add(Numbered(n));
    if (n % 7 == 0) list.Remove(*FindNumbered(list, n - 3));
    for (std::uint32_t hot = 0; hot < 100 && n % 500 == 0; ++hot)
      ASSERT_NE(FindNumbered(list, hot), nullptr) << hot << " at " << n;
    ASSERT_LE(list.GetSize(), kLimit);
  }
  // The queue and the table agree.
  std::size_t listed = 0;
  for (const Session& s : list) {
    ASSERT_NE(list.Find(s.srcAddress, s.srcPort, s.dstAddress, s.dstPort), nullptr);
    ++listed;
  }
  EXPECT_EQ(listed, list.GetSize());
}

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr bool kSanitized = true;
#elif defined(__has_feature)
constexpr bool kSanitized =
    __has_feature(address_sanitizer) || __has_feature(thread_sanitizer) || __has_feature(memory_sanitizer);
#else
constexpr bool kSanitized = false;
#endif

// Lets the process map at most `bytes` more than it has mapped now.
void LimitAddressSpace(std::size_t bytes) {
  std::size_t pages = 0;
  std::ifstream("/proc/self/statm") >> pages;
  const rlim_t limit = pages * static_cast<std::size_t>(::sysconf(_SC_PAGESIZE)) + bytes;
  const rlimit both{limit, limit};
  ::setrlimit(RLIMIT_AS, &both);
}

// Runs in a child process: exits 0 when a list whose table could not grow kept working.
[[noreturn]] void FillUnderAnAddressSpaceLimit() {
  const auto fail = [](const char* what) {
    std::fprintf(stderr, "%s\n", what);
    std::_Exit(1);
  };
  SessionList list(SessionList::kMaxLimit);  // only memory limits it
  LimitAddressSpace(std::size_t{40} << 20);
  constexpr std::uint32_t kOpened = 400000;  // would need a table of 32 MiB, and the old one beside it
  for (std::uint32_t n = 0; n < kOpened; ++n) list.Add(Numbered(n));

  const auto kept = static_cast<std::uint32_t>(list.GetSize());
  if (kept >= kOpened || kept < 1000) fail("the table did not stop growing where memory ran out");
  // The oldest made room for the newest.
  for (std::uint32_t n = 0; n < kOpened; ++n) {
    const Session* s = FindNumbered(list, n);
    if (n < kOpened - kept ? s != nullptr : s == nullptr || s->baseSeq != n) fail("wrong sessions kept");
  }
  list.Add(Numbered(kOpened));
  if (list.GetSize() != kept || FindNumbered(list, kOpened) == nullptr) fail("adding to the full table failed");
  list.Remove(*FindNumbered(list, kOpened));
  if (list.GetSize() != kept - 1 || FindNumbered(list, kOpened) != nullptr) fail("removing from the table failed");
  std::_Exit(0);
}

TEST(SessionListDeathTest, ATableThatCannotGrowKeepsWorking) {
  if (kSanitized) GTEST_SKIP() << "a sanitizer's shadow memory does not fit an address-space limit";
  EXPECT_EXIT(FillUnderAnAddressSpaceLimit(), ::testing::ExitedWithCode(0), "");
}

}  // namespace
