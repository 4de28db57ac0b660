// Session cost: the per-segment cost of decoding, tracking and logging a data segment of
// an open session, with 10 sessions open and with 1,000,000 open. The lookup finds a
// session in constant time, so the two costs stay within 20% of each other. Two orders of
// segments: each to a random session (the worst case: with a million sessions every
// lookup misses the caches), and bursts of 8 segments per session, as TCP sends them.
// Then the cost of a SYN flood into a full list, where each SYN drops a session, with room
// for 1,000 sessions and for 1,000,000.
//
// usage: monitor_sessions_bench [segments]
#include "monitor/traffic_monitor.h"
#include "tools/packet_builder.h"

#include <unistd.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;

struct Counter : PacketSink {
  void AddPacketToTree(const PacketRecord&) override { ++shown; }
  std::uint64_t shown = 0;
};

tools::TcpSegment SessionSegment(std::uint32_t session) {
  // 10.x.y.z:port to 10.0.0.1:80, unique per session number.
  tools::TcpSegment s;
  s.srcAddress = "10." + std::to_string(1 + (session >> 16)) + "." + std::to_string(session >> 8 & 0xFF) + "." +
                 std::to_string(session & 0xFF);
  s.srcPort = static_cast<std::uint16_t>(1024 + session % 50000);
  s.seq = 1000;
  return s;
}

void Feed(CTrafficMonitor& monitor, const std::vector<std::uint8_t>& d) {
  monitor.DecodeIpPacket(d.data(), static_cast<std::uint32_t>(d.size()));
}

// Feeds `data` to a monitor that has seen other segments before, and returns the time per
// segment.
double NanosecondsPerSegment(CTrafficMonitor& monitor, const Counter& counter,
                             const std::vector<std::vector<std::uint8_t>>& data, const fs::path& dir) {
  // Every run starts with an empty log and nothing waiting to be written back, so that
  // the million SYN lines before do not slow the writes measured here.
  fs::resize_file(dir / "Logger.txt", 0);
  ::sync();
  const std::uint64_t before = counter.shown;
  const auto start = std::chrono::steady_clock::now();
  for (const auto& d : data) Feed(monitor, d);
  const double ns = std::chrono::duration<double, std::nano>(std::chrono::steady_clock::now() - start).count();
  if (counter.shown - before != data.size())
    std::printf("error: %llu of %zu segments shown\n", static_cast<unsigned long long>(counter.shown - before),
                data.size());
  return ns / static_cast<double>(data.size());
}

// Nanoseconds per data segment with `open` sessions open; the segments go to random
// open sessions, `burst` segments in a row to each.
double CostWith(std::uint32_t open, std::uint32_t burst, std::uint64_t segments, const fs::path& dir) {
  Counter counter;
  CTrafficMonitor monitor(counter, dir.string());
  for (std::uint32_t i = 0; i < open; ++i) {
    auto syn = SessionSegment(i);
    syn.flags = tools::kSyn;
    Feed(monitor, tools::TcpDatagram(syn));
  }
  std::mt19937 random(42);
  std::vector<std::vector<std::uint8_t>> data;
  data.reserve(segments);
  std::uint32_t session = 0;
  for (std::uint64_t i = 0; i < segments; ++i) {
    if (i % burst == 0) session = static_cast<std::uint32_t>(random() % open);
    auto s = SessionSegment(session);
    s.flags = tools::kAck | tools::kPsh;
    s.seq = 1001 + static_cast<std::uint32_t>(i % 1000) * 100;
    s.payloadBytes = 100;
    data.push_back(tools::TcpDatagram(s));
  }
  return NanosecondsPerSegment(monitor, counter, data, dir);
}

// Nanoseconds per SYN of a flood of new sessions into a list that is full, so that each SYN
// drops the session seen longest ago.
double FloodCost(std::uint32_t limit, std::uint64_t segments, const fs::path& dir) {
  CTrafficMonitor::SetMaxSessions(limit);
  Counter counter;
  CTrafficMonitor monitor(counter, dir.string());
  CTrafficMonitor::SetMaxSessions(SessionList::kDefaultLimit);
  std::vector<std::vector<std::uint8_t>> data;
  data.reserve(segments);
  for (std::uint64_t i = 0; i < limit + segments; ++i) {
    auto syn = SessionSegment(static_cast<std::uint32_t>(i));
    syn.flags = tools::kSyn;
    if (i < limit)
      Feed(monitor, tools::TcpDatagram(syn));
    else
      data.push_back(tools::TcpDatagram(syn));
  }
  return NanosecondsPerSegment(monitor, counter, data, dir);
}

}  // namespace

int main(int argc, char** argv) {
  const std::uint64_t segments = argc > 1 ? std::strtoull(argv[1], nullptr, 10) : 1'000'000;
  std::string pattern = (fs::temp_directory_path() / "brenvo-bench-XXXXXX").string();
  if (::mkdtemp(pattern.data()) == nullptr) return 1;
  const fs::path dir = pattern;

  std::printf("per-segment cost (decode, track, log line), best of 3 runs of %llu segments:\n",
              static_cast<unsigned long long>(segments));
  for (const std::uint32_t burst : {1u, 8u}) {
    // Alternate the two sizes so that drifts of the machine touch both alike.
    double few = 1e300, many = 1e300;
    for (int round = 0; round < 3; ++round) {
      few = std::min(few, CostWith(10, burst, segments, dir));
      many = std::min(many, CostWith(1'000'000, burst, segments, dir));
    }
    const double difference = std::abs(many - few) / few * 100;
    std::printf("%s:\n", burst == 1 ? "each segment to a random session" : "bursts of 8 segments per session");
    std::printf("  10 open sessions:        %.0f ns\n", few);
    std::printf("  1,000,000 open sessions: %.0f ns\n", many);
    std::printf("  difference: %.1f%%  budget <= 20%%: %s\n", difference, difference <= 20 ? "met" : "MISSED");
  }
  // Each SYN drops a session: the cost stays that of one lookup and a few slots touched.
  double small = 1e300, large = 1e300;
  for (int round = 0; round < 3; ++round) {
    small = std::min(small, FloodCost(1000, segments, dir));
    large = std::min(large, FloodCost(1'000'000, segments, dir));
  }
  std::printf("SYN flood into a full list, each SYN dropping the session seen longest ago:\n");
  std::printf("  limit 1,000:              %.0f ns per SYN\n", small);
  std::printf("  limit 1,000,000:          %.0f ns per SYN\n", large);
  fs::remove_all(dir);
  return 0;
}
