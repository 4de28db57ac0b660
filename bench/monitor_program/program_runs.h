#pragma once
// What the benchmarks that run the built program share: the processor time of the program
// and of its capture and GUI threads, read under /proc, and the figures of its runs.
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include "bench/line_floor/line_floor.h"

namespace bench {

inline std::string ReadFile(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), {}};
}

// User and system time of a process or thread, from its "stat" file under /proc.
inline double CpuSeconds(const std::filesystem::path& stat) {
  const std::string text = ReadFile(stat);
  const std::size_t nameEnd = text.rfind(')');
  if (nameEnd == std::string::npos) return 0;
  // The fields after the name start with the third; user and system time are the 14th and 15th.
  std::istringstream fields(text.substr(nameEnd + 1));
  std::string skipped;
  for (int field = 3; field < 14; ++field) fields >> skipped;
  unsigned long long user = 0, system = 0;
  fields >> user >> system;
  return static_cast<double>(user + system) / static_cast<double>(::sysconf(_SC_CLK_TCK));
}

struct ProcessorTimes {
  double capture = 0;  // the thread named "capture"
  double gui = 0;      // the main thread
  double process = 0;  // all threads
};

// Follows the processor times of a running program. The capture thread of a capture file
// ends with the file, so its time is taken at each look while it runs.
class ProcessorTimesWatch {
 public:
  explicit ProcessorTimesWatch(pid_t pid) : m_proc("/proc/" + std::to_string(pid)), m_pid(std::to_string(pid)) {}
  void Look() {
    if (m_captureStat.empty()) {
      std::error_code error;
      for (const auto& task : std::filesystem::directory_iterator(m_proc / "task", error))
        if (task.path().filename() != m_pid && ReadFile(task.path() / "comm") == "capture\n")
          m_captureStat = task.path() / "stat";
    }
    if (!m_captureStat.empty()) m_times.capture = std::max(m_times.capture, CpuSeconds(m_captureStat));
    m_times.gui = CpuSeconds(m_proc / "task" / m_pid / "stat");
    m_times.process = CpuSeconds(m_proc / "stat");
  }
  const ProcessorTimes& Times() const { return m_times; }

 private:
  std::filesystem::path m_proc;
  std::string m_pid;
  std::filesystem::path m_captureStat;
  ProcessorTimes m_times;
};

// The runs of a program over a capture: each printed as it comes, then their medians.
class ProgramRuns {
 public:
  void Add(std::uint64_t segments, double seconds, const ProcessorTimes& times) {
    const auto n = static_cast<double>(segments);
    m_rates.push_back({n / seconds, n / times.process});
    m_times.push_back(times);
    std::printf(
        "run %zu: %.3f s, %.0f segments/s; processor time: capture thread %.2f s, GUI thread %.2f s, all %.2f s\n",
        m_rates.size(), seconds, n / seconds, times.capture, times.gui, times.process);
    std::fflush(stdout);
  }
  const std::vector<Rate>& Rates() const { return m_rates; }
  void PrintMedians(const char* what) const {
    std::vector<double> wall;
    for (const Rate& rate : m_rates) wall.push_back(rate.wall);
    std::printf(
        "\n%-40s %9.0f segments/s (processor time: capture thread %.2f s, GUI thread %.2f s, all %.2f s;"
        " medians of %zu runs)\n",
        what, Median(wall), MedianOf(&ProcessorTimes::capture), MedianOf(&ProcessorTimes::gui),
        MedianOf(&ProcessorTimes::process), m_rates.size());
  }

 private:
  double MedianOf(double ProcessorTimes::*field) const {
    std::vector<double> values;
    for (const ProcessorTimes& times : m_times) values.push_back(times.*field);
    return Median(values);
  }

  std::vector<Rate> m_rates;
  std::vector<ProcessorTimes> m_times;
};

}  // namespace bench
