// The traffic page as a normal user meets it where the system service captures: brenvod on
// a private system bus with real polkitd (tests/integration/support/service_world.h) in
// network namespace A, and the built program, `brenvo --firewall=service` with the window
// off screen, started there as an unprivileged user. The traffic comes from namespace B as
// raw IPv4 datagrams over the veth pair: 1,000,000 TCP segments over 10,000 connections,
// data of 0 to 1,400 bytes and TCP options in every segment, as in the other benchmarks, with
// the server's address made the window's (10.231.0.1).
//
// A live capture runs at the network's pace and the service drops what it cannot take in
// time, so the datagrams go out at the window's pace instead: never more than 48 segments
// ahead of its log (with 128 ahead, bursts already lose datagrams before the service reads
// them). The figure is thus bounded by the round trip from the sender to the log as well. Timed from the first datagram
// until "Logger.txt" holds a line for every segment; the log must be our own floor's over the same traffic in a capture
// file, byte for byte, and each run is followed by runs of the floors over that file.
// Printed: the rate, the processor time of the window's capture thread, GUI thread and
// process, and the median rate over the floor's. Budget: 0.7 of the floor's rate or more.
// Needs root; says why and does nothing where it cannot run.
//
// usage: monitor_service_program_bench [segments [connections [runs]]]
#include "bench/line_floor/line_floor.h"
#include "bench/monitor_program/program_runs.h"
#include "tests/integration/support/netns.h"
#include "tests/integration/support/service_world.h"
#include "tools/capture_writer.h"
#include "tools/synthetic_traffic.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <span>
#include <string>
#include <thread>
#include <vector>

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

constexpr std::uint64_t kAhead = 48;  // segments sent and not yet logged, at most
constexpr auto kStall = 10s;          // with no new line for that long, the run has failed
constexpr std::uint16_t kProbePort = 1;

// The generated traffic's server, and the window's address that takes its place.
const std::uint32_t kServer = ::inet_addr("10.0.0.1");
const std::uint32_t kWindow = ::inet_addr(NetnsPair::kAddressA);

// Adds `to` and takes `from` away from a 16-bit ones' complement checksum (RFC 1624).
void AdjustChecksum(std::uint8_t* checksum, std::uint32_t from, std::uint32_t to) {
  std::uint32_t sum = static_cast<std::uint16_t>(~(checksum[0] << 8 | checksum[1]));
  for (const std::uint32_t address : {~from, to}) {
    const std::uint32_t host = ntohl(address);
    sum += (host >> 16) + (host & 0xffff);
  }
  while (sum >> 16) sum = (sum & 0xffff) + (sum >> 16);
  checksum[0] = static_cast<std::uint8_t>(~sum >> 8);
  checksum[1] = static_cast<std::uint8_t>(~sum);
}

// The server's address in `datagram` made the window's, with the IP and TCP checksums kept
// right.
void MoveServer(std::vector<std::uint8_t>& datagram) {
  const std::size_t ipLength = (datagram[0] & 0x0f) * 4u;
  for (const std::size_t at : {12u, 16u}) {
    std::uint32_t address;
    std::memcpy(&address, &datagram[at], 4);
    if (address != kServer) continue;
    std::memcpy(&datagram[at], &kWindow, 4);
    AdjustChecksum(&datagram[10], kServer, kWindow);
    AdjustChecksum(&datagram[ipLength + 16], kServer, kWindow);
  }
}

// The benchmark's traffic, datagram by datagram.
void Traffic(std::uint64_t segments, std::uint32_t connections,
             const std::function<void(const std::vector<std::uint8_t>&)>& each) {
  std::vector<std::uint8_t> datagram;
  tools::GenerateTraffic(
      segments, connections,
      [&](std::span<const std::uint8_t> generated) {
        datagram.assign(generated.begin(), generated.end());
        MoveServer(datagram);
        each(datagram);
      },
      tools::kRealisticTraffic);
}

// The same traffic as Ethernet frames in a capture file, for the floors.
bool WriteCapture(const std::string& path, std::uint64_t segments, std::uint32_t connections) {
  tools::CaptureWriter writer(path, tools::CaptureWriter::Format::Pcap, 1);
  std::uint64_t microseconds = 0;
  std::vector<std::uint8_t> frame;
  Traffic(segments, connections, [&](const std::vector<std::uint8_t>& datagram) {
    frame.assign(12, 0);
    frame.insert(frame.end(), {0x08, 0x00});
    frame.insert(frame.end(), datagram.begin(), datagram.end());
    writer.Write(frame, ++microseconds);
  });
  return writer.Close();
}

// Counts the lines of a log that another process writes, as they come.
class LogLines {
 public:
  explicit LogLines(fs::path path) : m_path(std::move(path)) {}
  ~LogLines() {
    if (m_fd >= 0) ::close(m_fd);
  }
  std::uint64_t Count() {
    if (m_fd < 0) m_fd = ::open(m_path.c_str(), O_RDONLY | O_CLOEXEC);
    std::array<char, 65536> buffer;
    for (ssize_t n; m_fd >= 0 && (n = ::read(m_fd, buffer.data(), buffer.size())) > 0;)
      m_lines += static_cast<std::uint64_t>(std::count(buffer.data(), buffer.data() + n, '\n'));
    return m_lines;
  }

 private:
  fs::path m_path;
  int m_fd = -1;
  std::uint64_t m_lines = 0;
};

class RawSender {
 public:
  explicit RawSender(const std::string& netns) {
    const InNamespace in(netns);
    if (in.Entered()) m_fd = ::socket(AF_INET, SOCK_RAW | SOCK_CLOEXEC, IPPROTO_RAW);
  }
  ~RawSender() {
    if (m_fd >= 0) ::close(m_fd);
  }
  bool ok() const { return m_fd >= 0; }
  bool Send(const std::vector<std::uint8_t>& datagram) const {
    sockaddr_in to{};
    to.sin_family = AF_INET;
    std::memcpy(&to.sin_addr, &datagram[16], 4);
    return ::sendto(m_fd, datagram.data(), datagram.size(), 0, reinterpret_cast<const sockaddr*>(&to), sizeof to) ==
           static_cast<ssize_t>(datagram.size());
  }
  // A SYN from B's own address to the window's port 1: a line in the log that tells the
  // window captures.
  bool Probe() const {
    std::vector<std::uint8_t> syn(40, 0);
    syn[0] = 0x45;
    syn[3] = 40;
    syn[8] = 64;
    syn[9] = IPPROTO_TCP;
    const std::uint32_t from = ::inet_addr(NetnsPair::kAddressB);
    std::memcpy(&syn[12], &from, 4);
    std::memcpy(&syn[16], &kWindow, 4);
    syn[21] = syn[23] = kProbePort;
    syn[32] = 0x50;
    syn[33] = 0x02;
    return Send(syn);
  }

 private:
  int m_fd = -1;
};

struct WindowRun {
  bool ok = false;
  double seconds = 0;
  bench::ProcessorTimes times;
};

// Starts a window as the allowed user, waits until its capture logs a probe, then sends the
// traffic at its pace and times it until the log holds it all.
WindowRun RunWindow(const ServiceWorld& world, const NetnsPair& netns, const RawSender& sender, std::uint64_t segments,
                    std::uint32_t connections, const std::string& expected) {
  constexpr uid_t kUser = ServiceWorld::kAllowedUid;
  const fs::path home = world.Home(kUser);
  fs::remove(home / "Logger.txt");
  const std::string output = (home / "brenvo.out").string();
  fs::remove(output);
  const pid_t pid = world.Spawn(kUser, {BRENVO_PROGRAM, "--firewall=service"}, output, netns.A());
  WindowRun run;
  LogLines log(home / "Logger.txt");
  const auto started = Clock::now();
  while (log.Count() == 0 && Clock::now() - started < 20s) {
    sender.Probe();
    std::this_thread::sleep_for(50ms);
  }
  // Probes on their way are logged before the traffic.
  std::this_thread::sleep_for(300ms);
  const std::uint64_t probes = log.Count();
  const std::uintmax_t probeBytes = fs::exists(home / "Logger.txt") ? fs::file_size(home / "Logger.txt") : 0;
  if (probes == 0) {
    std::printf("error: the window logged no probe; it said:\n%s", bench::ReadFile(output).c_str());
  } else {
    bench::ProcessorTimesWatch watch(pid);
    const auto start = Clock::now();
    std::uint64_t sent = 0, logged = 0;
    auto progress = start;
    bool stalled = false;
    const auto look = [&] {
      const std::uint64_t now = log.Count() - probes;
      if (now != logged) progress = Clock::now();
      logged = now;
      stalled = Clock::now() - progress > kStall;
    };
    Traffic(segments, connections, [&](const std::vector<std::uint8_t>& datagram) {
      while (!stalled && sent - logged >= kAhead) {
        look();
        std::this_thread::sleep_for(50us);
      }
      if (stalled || !sender.Send(datagram)) {
        stalled = true;
        return;
      }
      if (++sent % 4096 == 0) watch.Look();
    });
    while (!stalled && logged < segments) {
      look();
      watch.Look();
      std::this_thread::sleep_for(1ms);
    }
    run.seconds = std::chrono::duration<double>(Clock::now() - start).count();
    watch.Look();
    run.times = watch.Times();
    const std::string text = bench::ReadFile(home / "Logger.txt");
    run.ok = text.size() >= probeBytes && text.compare(probeBytes, std::string::npos, expected) == 0;
    if (!run.ok) {
      std::printf("error: the window logged %llu of %llu segments%s\n",
                  static_cast<unsigned long long>(log.Count() - probes), static_cast<unsigned long long>(segments),
                  stalled ? " and then stopped" : ", not the floor's lines");
      std::printf("its log begins:\n%s\nit said:\n%s", text.substr(0, 400).c_str(), bench::ReadFile(output).c_str());
    }
  }
  ::kill(pid, SIGTERM);
  const int status = WaitFor(pid);
  if (status != 0 || !run.ok)
    std::printf("the window ended with %d; it said:\n%s", status, bench::ReadFile(output).c_str());
  return run;
}

}  // namespace

int main(int argc, char** argv) {
  if (const std::string problem = ServiceWorld::Problem(); !problem.empty()) {
    std::printf("skipped: the service's world %s\n", problem.c_str());
    return 0;
  }
  const std::uint64_t segments = argc > 1 ? std::strtoull(argv[1], nullptr, 10) : 1'000'000;
  const std::uint32_t connections = argc > 2 ? static_cast<std::uint32_t>(std::strtoul(argv[2], nullptr, 10)) : 10'000;
  const int runs = argc > 3 ? std::atoi(argv[3]) : 5;
  ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
  std::setvbuf(stdout, nullptr, _IOLBF, 0);

  std::string pattern = (fs::temp_directory_path() / "brenvo-bench-XXXXXX").string();
  if (::mkdtemp(pattern.data()) == nullptr) return 1;
  const fs::path dir = pattern;
  struct Cleanup {
    fs::path dir;
    ~Cleanup() { fs::remove_all(dir); }
  } cleanup{dir};
  const std::string file = (dir / "traffic.pcap").string();
  const fs::path reference = dir / "reference.log";
  const std::string floorCommand =
      std::string(BRENVO_OWN_FLOOR) + " " + file + " " + reference.string() + " 2>/dev/null";
  if (!WriteCapture(file, segments, connections) || std::system(floorCommand.c_str()) != 0) {
    std::printf("error: cannot write the capture file or its reference log\n");
    return 1;
  }
  const std::string expected = bench::ReadFile(reference);
  std::printf("traffic: %llu segments over %u connections, %.1f MB in a capture file\n",
              static_cast<unsigned long long>(segments), connections, fs::file_size(file) / 1e6);

  NetnsPair netns;
  if (!netns.Problem().empty()) {
    std::printf("skipped: %s\n", netns.Problem().c_str());
    return 0;
  }
  // Everything B sends goes to A, also the server's segments to the clients' addresses.
  if (RunProgram({"ip", "-n", netns.B(), "route", "add", "default", "via", NetnsPair::kAddressA}) != 0) return 1;
  ServiceWorld world;
  if (!world.Failure().empty() || !world.StartService(netns.A())) {
    std::printf("error: %s\n", world.Failure().c_str());
    return 1;
  }
  const RawSender sender(netns.B());
  if (!sender.ok()) return 1;

  bench::LineFloors floors(dir);
  bench::ProgramRuns programRuns;
  for (int run = 0; run < runs; ++run) {
    const WindowRun result = RunWindow(world, netns, sender, segments, connections, expected);
    if (!result.ok) return 1;
    programRuns.Add(segments, result.seconds, result.times);
    if (!floors.Run(file, segments)) return 1;
  }
  programRuns.PrintMedians("whole program through the service");
  floors.Report("whole program through the service", programRuns.Rates(), 0.7);
  return 0;
}
