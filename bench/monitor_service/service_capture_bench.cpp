// The traffic page through the service: the service's capture code (CaptureServer) reads a
// capture file of 1,000,000 TCP segments over 10,000 connections and writes the datagrams
// on the socket pair, those that are there together in one message; the window's code reads them on its capture thread
// (DescriptorSource), decodes, tracks, logs to "Logger.txt" and appends to the tree model.
// A live capture runs at the network's pace; the file is read at the window's pace instead,
// never more than 1,024 datagrams ahead of it, so that the service drops nothing and the
// figure is the rate the window keeps up with.
// Each run is followed by runs of the floors (see bench/line_floor) over the same file.
// Budget: 0.7 of the floor's rate or more.
//
// usage: monitor_service_bench [segments [connections [runs]]]
#include "bench/line_floor/line_floor.h"
#include "bench/monitor_pipeline/traffic_bench.h"
#include "daemon/capture_server.h"
#include "monitor/descriptor_source.h"
#include "monitor/packet_record.h"
#include "monitor/packet_tree_model.h"
#include "monitor/pcap_source.h"
#include "monitor/traffic_monitor.h"

#include <arpa/inet.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <limits>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;

// The processor time the calling thread has used, in seconds.
double ThreadSeconds() {
  timespec t;
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
  return static_cast<double>(t.tv_sec) + t.tv_nsec / 1e9;
}

constexpr std::uint64_t kAhead = 1024;
// The window wakes a held-back source once per this many datagrams, not for each one.
constexpr std::uint64_t kWakeEvery = 256;
// What the window's count becomes once it has gone: the file is then read without waiting.
constexpr std::uint64_t kWindowGone = std::numeric_limits<std::uint64_t>::max() / 2;
const std::uint32_t kAddress = inet_addr("192.0.2.1");

// The capture file on the service's side, held back while the window is `kAhead` behind.
class PacedFileSource final : public ws::CaptureSource {
 public:
  PacedFileSource(const std::string& file, std::atomic<std::uint64_t>& read, double& seconds)
      : m_file(file), m_read(read), m_seconds(seconds) {}
  int Open() override { return m_file.Open(); }
  int Bind(std::uint32_t address) override { return m_file.Bind(address); }
  int Start() override { return m_file.Start(); }
  int Receive(std::uint8_t* buffer, std::uint32_t capacity, std::uint32_t& received) override {
    for (std::uint64_t read = m_read.load(); m_sent >= read + kAhead; read = m_read.load()) m_read.wait(read);
    return Counted(m_file.Receive(buffer, capacity, received));
  }
  // What the window has room for is there at once, as datagrams that came in together are.
  int ReceiveReady(std::uint8_t* buffer, std::uint32_t capacity, std::uint32_t& received) override {
    if (m_sent >= m_read.load() + kAhead) return ws::WSAEWOULDBLOCK;
    return Counted(m_file.ReceiveReady(buffer, capacity, received));
  }
  void Wake() override { m_file.Wake(); }

 private:
  int Counted(int error) {
    m_sent += error == 0;
    if (error != 0 && error != ws::WSAEWOULDBLOCK) m_seconds = ThreadSeconds();
    return error;
  }

  ws::PcapSource m_file;
  std::atomic<std::uint64_t>& m_read;
  std::uint64_t m_sent = 0;
  double& m_seconds;  // the capture thread's processor time at the end of the file
};

// The window's end of the socket pair, counting what it read. The end of the service's
// capture ends it quietly, as the end of a capture file does.
class CountingSource final : public ws::DescriptorSource {
 public:
  CountingSource(int socket, std::atomic<std::uint64_t>& read, double& seconds)
      : DescriptorSource(socket), m_read(read), m_seconds(seconds) {}
  ~CountingSource() override {
    m_read = kWindowGone;
    m_read.notify_all();
  }

 protected:
  int NextDatagram(std::span<std::uint8_t> scratch, bool wait, std::span<const std::uint8_t>& datagram) override {
    const int error = DescriptorSource::NextDatagram(scratch, wait, datagram);
    if (error == ws::WSAENETDOWN) {
      m_seconds = ThreadSeconds();
      return ws::WSAEDISCON;
    }
    if (error == 0 && (m_read.fetch_add(1) + 1) % kWakeEvery == 0) m_read.notify_one();
    return error;
  }

 private:
  std::atomic<std::uint64_t>& m_read;
  double& m_seconds;  // the capture thread's processor time at the end
};

// The window's pipeline over the socket `socket`, until the service's capture ends.
class Window : public ModelSink, public CTrafficMonitor {
 public:
  Window(const std::string& logDirectory, int socket, std::atomic<std::uint64_t>& read, double& seconds)
      : CTrafficMonitor(*this, logDirectory) {
    ws::SetSourceFactory([socket, &read, &seconds] { return std::make_unique<CountingSource>(socket, read, seconds); });
  }
  ~Window() override {
    StopCapture();
    ws::SetSourceFactory(nullptr);
  }
  void Run() {
    m_addresses = {"192.0.2.1"};
    StartCapture();
    m_hThread.join();
    model.ShowQueued();
  }
};

}  // namespace

int main(int argc, char** argv) {
  const TrafficBench bench(argc, argv);
  const auto& [segments, connections, runs, dir, file] = bench;

  bench::LineFloors floors(dir);
  std::vector<bench::Rate> rates;
  std::vector<double> wall;
  for (int run = 0; run < runs; ++run) {
    std::atomic<std::uint64_t> read{0};
    double serviceSeconds = 0, windowSeconds = 0;
    CaptureServer service([&] { return std::make_unique<PacedFileSource>(file, read, serviceSeconds); });
    const bench::RunTimer timer;
    const Result<CaptureServer::Opened> opened = service.Open("window", 0, kAddress);
    if (!opened.ok()) {
      std::printf("error: the service cannot capture: %s\n", opened.status().reason().c_str());
      return 1;
    }
    Window window(dir.string(), opened->socket, read, windowSeconds);
    window.Run();
    const auto shown = static_cast<std::uint64_t>(window.model.rowCount());
    rates.push_back(timer.Stop(shown));
    wall.push_back(rates.back().wall);
    std::printf(
        "run %d: %.0f segments/s, %llu datagrams lost; processor time per segment: service %.2f us, window %.2f us\n",
        run + 1, rates.back().wall, static_cast<unsigned long long>(segments - shown), serviceSeconds / segments * 1e6,
        windowSeconds / segments * 1e6);
    if (!floors.Run(file, segments)) return 1;
  }
  std::printf("\n%-40s %9.0f segments/s (median of %d runs)\n", "through the service (capture to tree)",
              bench::Median(wall), runs);
  floors.Report("through the service", rates, 0.7);
  return 0;
}
