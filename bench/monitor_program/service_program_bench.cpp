// The traffic page through the service as a user meets it: in a world of the benchmark's own
// (network namespaces A and B joined by a veth pair, a private system bus with real polkitd),
// brenvod runs as root in A, and the built program `brenvo` runs there off screen as an
// unprivileged user whom polkit lets see traffic; the window captures through the service.
// The capture file, 1,000,000 TCP segments over 10,000 connections to and from A's address,
// data of 0 to 1,400 bytes and TCP options in every segment, is sent frame by frame from B
// over the veth pair, never more than kAhead segments ahead of the window's Logger.txt: the
// figure is the rate the whole path keeps up with, and nothing is dropped on the way.
// Timed from the first frame sent until Logger.txt holds a line for each, which must be the
// lines our own floor writes for the file, byte for byte. Each run is followed by runs of the
// floors (see bench/line_floor) over the same file. Budget: 0.7 of the floor's rate or more.
//
// usage: monitor_service_program_bench [segments [connections [runs]]]   (as root)
#include <fcntl.h>
#include <linux/if_packet.h>
#include <net/if.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <memory>
#include <span>
#include <string>
#include <thread>
#include <vector>

#include "bench/line_floor/line_floor.h"
#include "bench/monitor_pipeline/traffic_bench.h"
#include "bench/monitor_program/program_runs.h"
#include "tests/integration/support/netns.h"
#include "tests/integration/support/service_world.h"
#include "tools/packet_builder.h"

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;
using bench::ReadFile;

// How far the sender may run ahead of the window's log, in segments: within what the capture
// path buffers between the service and the window, so that none is dropped.
constexpr std::uint64_t kAhead = 2048;
constexpr std::size_t kBatch = 64;
// The window has logged nothing new for this long: it lost segments, or stopped.
constexpr auto kStalled = 10s;

// The frames of a classic pcap file in this host's byte order, as tools/capture_writer.h
// writes it.
std::vector<std::span<const std::uint8_t>> Frames(const std::string& bytes) {
  std::vector<std::span<const std::uint8_t>> frames;
  const auto* data = reinterpret_cast<const std::uint8_t*>(bytes.data());
  for (std::size_t at = 24; at + 16 <= bytes.size();) {
    std::uint32_t captured;
    std::memcpy(&captured, data + at + 8, 4);
    if (at + 16 + captured > bytes.size()) break;
    frames.emplace_back(data + at + 16, captured);
    at += 16 + captured;
  }
  return frames;
}

// Counts the lines of a growing file as it is written.
class LineCounter {
 public:
  explicit LineCounter(fs::path path) : m_path(std::move(path)) {}
  ~LineCounter() {
    if (m_fd >= 0) ::close(m_fd);
  }
  std::uint64_t Count() {
    if (m_fd < 0) m_fd = ::open(m_path.c_str(), O_RDONLY | O_CLOEXEC);
    for (ssize_t got; m_fd >= 0 && (got = ::read(m_fd, m_buffer.data(), m_buffer.size())) > 0;)
      m_lines += static_cast<std::uint64_t>(std::count(m_buffer.data(), m_buffer.data() + got, '\n'));
    return m_lines;
  }

 private:
  fs::path m_path;
  int m_fd = -1;
  std::uint64_t m_lines = 0;
  std::vector<char> m_buffer = std::vector<char>(1 << 20);
};

// Sends Ethernet frames out of namespace B's end of the veth pair.
class FrameSender {
 public:
  explicit FrameSender(const std::string& netns) {
    const InNamespace inB(netns);
    m_fd = ::socket(AF_PACKET, SOCK_RAW | SOCK_CLOEXEC, 0);
    sockaddr_ll to{};
    to.sll_family = AF_PACKET;
    to.sll_ifindex = static_cast<int>(VethIndex());
    m_to = to;
  }
  ~FrameSender() {
    if (m_fd >= 0) ::close(m_fd);
  }
  bool Ready() const { return m_fd >= 0 && m_to.sll_ifindex != 0; }
  bool Send(std::span<const std::span<const std::uint8_t>> frames) {
    std::vector<iovec> data(frames.size());
    std::vector<mmsghdr> messages(frames.size());
    for (std::size_t i = 0; i < frames.size(); ++i) {
      data[i] = {const_cast<std::uint8_t*>(frames[i].data()), frames[i].size()};
      messages[i].msg_hdr.msg_name = &m_to;
      messages[i].msg_hdr.msg_namelen = sizeof m_to;
      messages[i].msg_hdr.msg_iov = &data[i];
      messages[i].msg_hdr.msg_iovlen = 1;
    }
    for (std::size_t sent = 0; sent < messages.size();) {
      const int n = ::sendmmsg(m_fd, messages.data() + sent, static_cast<unsigned>(messages.size() - sent), 0);
      if (n <= 0) return false;
      sent += static_cast<std::size_t>(n);
    }
    return true;
  }

 private:
  // The one interface of the namespace that is not loopback.
  static unsigned VethIndex() {
    unsigned index = 0;
    if (struct if_nameindex* names = ::if_nameindex()) {
      for (const struct if_nameindex* name = names; name->if_index != 0; ++name)
        if (std::strcmp(name->if_name, "lo") != 0) index = name->if_index;
      ::if_freenameindex(names);
    }
    return index;
  }

  int m_fd = -1;
  sockaddr_ll m_to{};
};

struct ServiceRun {
  bool ok = false;
  double seconds = 0;
  bench::ProcessorTimes window;  // the window's, during the run
  double service = 0;            // brenvod's processor time during the run
};

class ServiceProgramBench {
 public:
  ServiceProgramBench(ServiceWorld& world, const NetnsPair& netns, const std::string& capture)
      : m_world(world), m_netns(netns), m_file(ReadFile(capture)), m_frames(Frames(m_file)), m_sender(netns.B()) {}

  bool Ready() const { return m_sender.Ready() && !m_frames.empty(); }

  // Starts a window, waits until it captures, sends the frames and waits for every line.
  // `expected` is the log the window must write after its readiness probes.
  ServiceRun Run(const std::string& expected) {
    const fs::path home = m_world.Home(ServiceWorld::kAllowedUid);
    fs::remove(home / "Logger.txt");
    const std::string output = m_world.Dir() + "/window.out";
    const pid_t window = m_world.Spawn(ServiceWorld::kAllowedUid, {BRENVO_PROGRAM}, output, m_netns.A());
    LineCounter lines(home / "Logger.txt");
    ServiceRun run;
    const std::uint64_t probes = Probe(lines);
    if (probes != 0) run = Replay(lines, probes, window);
    ::kill(window, SIGTERM);
    const int status = WaitFor(window);
    const std::string log = ReadFile(home / "Logger.txt");
    std::size_t data = 0;
    for (std::uint64_t i = 0; i < probes && data != std::string::npos; ++i) data = log.find('\n', data) + 1;
    if (!run.ok || status != 0 || log.compare(data, std::string::npos, expected) != 0) {
      std::printf("error: the window %s (status %d); it said:\n%s",
                  run.ok ? "logged other lines than the floor" : "did not log every segment", status,
                  ReadFile(output).c_str());
      run.ok = false;
    }
    return run;
  }

 private:
  // Sends a segment to port 1 until the window logs it; how many lines the probes left.
  std::uint64_t Probe(LineCounter& lines) {
    const std::vector<std::uint8_t> probe = tools::EthernetFrame(
        tools::TcpDatagram({NetnsPair::kAddressB, NetnsPair::kAddressA, 1, 1, 0, 0, tools::kSyn, 0, 0}));
    const std::span<const std::uint8_t> frame(probe);
    for (const auto until = Clock::now() + 30s; Clock::now() < until;) {
      m_sender.Send({&frame, 1});
      std::this_thread::sleep_for(100ms);
      if (lines.Count() != 0) {
        std::this_thread::sleep_for(300ms);  // a probe sent meanwhile is logged by then
        return lines.Count();
      }
    }
    std::printf("error: the window did not capture within 30 s\n");
    return 0;
  }

  ServiceRun Replay(LineCounter& lines, std::uint64_t probes, pid_t window) {
    bench::ProcessorTimesWatch watch(window);
    watch.Look();
    const bench::ProcessorTimes before = watch.Times();
    const fs::path serviceStat = "/proc/" + std::to_string(m_world.ServicePid()) + "/stat";
    const double serviceBefore = bench::CpuSeconds(serviceStat);
    const std::uint64_t total = m_frames.size();
    const auto start = Clock::now();
    auto progress = start;
    std::uint64_t sent = 0, logged = 0;
    while (logged < total) {
      if (sent < total && sent - logged <= kAhead) {
        const std::size_t count = std::min<std::uint64_t>(kBatch, total - sent);
        if (!m_sender.Send(std::span(m_frames).subspan(sent, count))) return {};
        sent += count;
      } else {
        std::this_thread::sleep_for(50us);
      }
      const std::uint64_t now = lines.Count() - probes;
      if (now != logged) progress = Clock::now();
      logged = now;
      if (Clock::now() - progress > kStalled) {
        std::printf("error: %llu of %llu segments logged, %llu sent\n", static_cast<unsigned long long>(logged),
                    static_cast<unsigned long long>(total), static_cast<unsigned long long>(sent));
        return {};
      }
    }
    ServiceRun run;
    run.ok = true;
    run.seconds = std::chrono::duration<double>(Clock::now() - start).count();
    watch.Look();
    run.window = {watch.Times().capture - before.capture, watch.Times().gui - before.gui,
                  watch.Times().process - before.process};
    run.service = bench::CpuSeconds(serviceStat) - serviceBefore;
    return run;
  }

  ServiceWorld& m_world;
  const NetnsPair& m_netns;
  const std::string m_file;
  const std::vector<std::span<const std::uint8_t>> m_frames;
  FrameSender m_sender;
};

}  // namespace

int main(int argc, char** argv) {
  if (std::string problem = ServiceWorld::Problem(); !problem.empty() || !(problem = NamespaceTestProblem()).empty()) {
    std::printf("benchmark skipped: %s\n", problem.c_str());
    return 0;
  }
  ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
  const NetnsPair netns;
  if (!netns.Problem().empty()) {
    std::printf("benchmark skipped: %s\n", netns.Problem().c_str());
    return 0;
  }
  ServiceWorld world;
  if (!world.Failure().empty() || !world.StartService(netns.A())) {
    std::printf("error: the world: %s\n", world.Failure().c_str());
    return 1;
  }
  const TrafficBench traffic(argc, argv, tools::kRealisticTraffic, NetnsPair::kAddressA);
  const fs::path reference = traffic.dir / "reference.log";
  if (std::system(
          (std::string(BRENVO_OWN_FLOOR) + " " + traffic.file + " " + reference.string() + " 2>/dev/null").c_str()) !=
      0) {
    std::printf("error: our own floor failed\n");
    return 1;
  }
  const std::string expected = ReadFile(reference);
  ServiceProgramBench bench(world, netns, traffic.file);
  if (!bench.Ready()) {
    std::printf("error: cannot send frames in namespace %s\n", netns.B().c_str());
    return 1;
  }

  bench::LineFloors floors(traffic.dir);
  bench::ProgramRuns runs;
  for (int run = 0; run < traffic.runs; ++run) {
    const ServiceRun result = bench.Run(expected);
    if (!result.ok) return 1;
    runs.Add(traffic.segments, result.seconds, result.window);
    std::printf("        brenvod's processor time: %.2f s\n", result.service);
    if (!floors.Run(traffic.file, traffic.segments)) return 1;
  }
  runs.PrintMedians("the window through brenvod");
  return floors.Report("the window through brenvod", runs.Rates(), 0.7) ? 0 : 1;
}
