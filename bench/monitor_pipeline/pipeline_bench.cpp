// Headless pipeline: a capture file of 1,000,000 TCP segments over 10,000 connections read
// through the capture thread, decoded, tracked, logged to "Logger.txt" and appended to the
// tree model. Each run is followed by runs of the floors (see bench/line_floor) over the
// same file, so that noise on the shared machine hits both alike; then, once,
// `tcpdump -nn -r FILE > out.txt` where tcpdump is installed.
// Budget: 0.85 of the floor's rate or more, and 48 bytes or less retained per segment.
//
// usage: monitor_pipeline_bench [segments [connections [runs]]]
#include "bench/line_floor/line_floor.h"
#include "bench/monitor_pipeline/traffic_bench.h"
#include "monitor/packet_record.h"
#include "monitor/packet_tree_model.h"
#include "monitor/traffic_monitor.h"

#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

class ModelMonitor : public ModelSink, public CTrafficMonitor {
 public:
  explicit ModelMonitor(const std::string& logDirectory) : CTrafficMonitor(*this, logDirectory) {}
  ~ModelMonitor() override { StopCapture(); }
  void Run() {
    m_addresses = {"192.0.2.1"};
    StartCapture();
    m_hThread.join();  // the end of the file ends the capture
    model.ShowQueued();
  }
};

double Seconds(Clock::duration d) { return std::chrono::duration<double>(d).count(); }

}  // namespace

int main(int argc, char** argv) {
  const TrafficBench bench(argc, argv);
  const auto& [segments, connections, runs, dir, file] = bench;

  bench::LineFloors floors(dir);
  CTrafficMonitor::SetCaptureFile(file);
  std::vector<bench::Rate> rates;
  double bytesPerSegment = 0;
  for (int run = 0; run < runs; ++run) {
    ModelMonitor monitor(dir.string());
    const bench::RunTimer timer;
    monitor.Run();
    const bench::Rate rate = timer.Stop(segments);
    const auto shown = static_cast<std::uint64_t>(monitor.model.rowCount());
    if (shown != segments) {
      std::printf("error: %llu segments reached the tree\n", static_cast<unsigned long long>(shown));
      return 1;
    }
    rates.push_back(rate);
    bytesPerSegment = static_cast<double>(monitor.model.RetainedBytes()) / segments;
    std::printf("run %d: %.3f s, %.0f segments/s (processor time: %.0f), log %.1f MB\n", run + 1, segments / rate.wall,
                rate.wall, rate.cpu, fs::file_size(dir / "Logger.txt") / 1e6);
    if (!floors.Run(file, segments)) return 1;
  }
  CTrafficMonitor::SetCaptureFile("");

  double tcpdumpRate = 0;
  if (std::system("command -v tcpdump >/dev/null 2>&1") == 0) {
    const std::string command = "tcpdump -nn -r " + file + " > " + (dir / "out.txt").string() + " 2>/dev/null";
    const auto t = Clock::now();
    if (std::system(command.c_str()) == 0) tcpdumpRate = segments / Seconds(Clock::now() - t);
  }

  std::vector<double> wall, cpu;
  for (const bench::Rate& rate : rates) {
    wall.push_back(rate.wall);
    cpu.push_back(rate.cpu);
  }
  std::printf("\n%-40s %9.0f segments/s (processor time: %.0f; medians of %d runs)\n",
              "pipeline (decode, track, log, tree)", bench::Median(wall), bench::Median(cpu), runs);
  floors.Report("pipeline", rates, 0.85);
  if (tcpdumpRate > 0)
    std::printf("%-40s %9.0f segments/s\n", "tcpdump -nn -r FILE > out.txt", tcpdumpRate);
  else
    std::printf("tcpdump: not installed, no comparison\n");
  std::printf("model memory: %.1f bytes retained per segment  budget <= 48: %s\n", bytesPerSegment,
              bytesPerSegment <= 48 ? "met" : "MISSED");
  return 0;
}
