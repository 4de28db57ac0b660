#pragma once

// The floor a benchmark of the traffic monitor is measured against: what this machine
// does today when it only decodes each segment of a capture file, looks up its session,
// formats its line by hand and writes it with one write(), with no capture library,
// thread or tree. Absolute rates on a shared machine vary from day to day; the rate over
// the floor's, measured in the same run on the same file, does not.
//
// Two floors: ours (monitor_line_floor, built with the project), and, where a checkout of
// the team's shared tree lies beside the repository, its decodefloor.c, compiled with
// `cc -O2` when the benchmark starts.

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace bench {

// The segments per second of one run, by the clock on the wall and by the processor time
// of the run's process (user and system, all threads). On a machine shared with other
// work the second varies less, as it leaves out the time spent waiting for a processor.
struct Rate {
  double wall = 0;
  double cpu = 0;
};

// Times a run in this process from its construction to Stop().
class RunTimer {
 public:
  RunTimer();
  Rate Stop(std::uint64_t segments) const;

 private:
  double m_wall;
  double m_cpu;
};

class LineFloors {
 public:
  // Prepares the floors in `workDir`, a temporary directory of the benchmark's, and says
  // which ones it will run.
  explicit LineFloors(const std::filesystem::path& workDir);

  // Runs every floor once over `capture`, which holds `segments` TCP segments, each one
  // writing its log to a file in the work directory. False, with a message, when a floor
  // failed or did not log every segment.
  bool Run(const std::string& capture, std::uint64_t segments);

  // Prints each floor's median rates and the median over the runs of `rates[i]` (the rate
  // of `what` in the run just before the floors' i-th) over the floor's rate in that run,
  // by both clocks, with the wall clock's against `budget`. True when the budget is met
  // against every floor.
  bool Report(const std::string& what, const std::vector<Rate>& rates, double budget) const;

 private:
  struct Floor {
    std::string name;
    std::vector<std::string> command;  // the capture and the log follow
    std::vector<Rate> rates;
  };

  std::filesystem::path m_workDir;
  std::vector<Floor> m_floors;
};

// The median of a benchmark's runs.
double Median(std::vector<double> values);

}  // namespace bench
