#include "bench/line_floor/line_floor.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>

extern char** environ;

namespace bench {
namespace {

namespace fs = std::filesystem;

double Seconds(const timeval& t) { return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) / 1e6; }

double ClockSeconds(clockid_t clock) {
  timespec t;
  ::clock_gettime(clock, &t);
  return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) / 1e9;
}

// Runs `command` with its standard output and error in `output`; true when it exited with
// 0. `cpuSeconds` receives the processor time it took.
bool RunProgram(const std::vector<std::string>& command, const fs::path& output, double* cpuSeconds = nullptr) {
  std::vector<char*> argv;
  for (const std::string& arg : command) argv.push_back(const_cast<char*>(arg.c_str()));
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, output.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  posix_spawn_file_actions_adddup2(&actions, 1, 2);
  pid_t pid;
  const bool spawned = posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ) == 0;
  posix_spawn_file_actions_destroy(&actions);
  int status = 0;
  rusage usage{};
  if (!spawned || ::wait4(pid, &status, 0, &usage) != pid) return false;
  if (cpuSeconds != nullptr) *cpuSeconds = Seconds(usage.ru_utime) + Seconds(usage.ru_stime);
  return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

std::string ReadFile(const fs::path& path) {
  std::ifstream in(path);
  return {std::istreambuf_iterator<char>(in), {}};
}

}  // namespace

RunTimer::RunTimer() : m_wall(ClockSeconds(CLOCK_MONOTONIC)), m_cpu(ClockSeconds(CLOCK_PROCESS_CPUTIME_ID)) {}

Rate RunTimer::Stop(std::uint64_t segments) const {
  const auto n = static_cast<double>(segments);
  return {n / (ClockSeconds(CLOCK_MONOTONIC) - m_wall), n / (ClockSeconds(CLOCK_PROCESS_CPUTIME_ID) - m_cpu)};
}

LineFloors::LineFloors(const fs::path& workDir) : m_workDir(workDir) {
  m_floors.push_back({"own floor (monitor_line_floor)", {BRENVO_LINE_FLOOR_PROGRAM}, {}});
  const fs::path shared = BRENVO_SHARED_FLOOR_SOURCE;
  if (!fs::exists(shared)) {
    std::printf("floor: %s is not there; only our own floor runs\n", shared.c_str());
    return;
  }
  const fs::path program = workDir / "decodefloor";
  if (RunProgram({"cc", "-O2", "-o", program.string(), shared.string()}, workDir / "cc.out"))
    m_floors.push_back({"shared floor (decodefloor.c write)", {program.string(), "write"}, {}});
  else
    std::printf("floor: cc -O2 %s failed:\n%s", shared.c_str(), ReadFile(workDir / "cc.out").c_str());
}

bool LineFloors::Run(const std::string& capture, std::uint64_t segments) {
  for (Floor& floor : m_floors) {
    std::vector<std::string> command = floor.command;
    command.push_back(capture);
    command.push_back((m_workDir / "floor.log").string());
    const double start = ClockSeconds(CLOCK_MONOTONIC);
    double cpuSeconds = 0;
    const bool ran = RunProgram(command, m_workDir / "floor.out", &cpuSeconds);
    const double seconds = ClockSeconds(CLOCK_MONOTONIC) - start;
    // Both floors end by saying how many segments they logged.
    const std::string said = ReadFile(m_workDir / "floor.out");
    if (!ran || std::strtoull(said.c_str(), nullptr, 10) != segments) {
      std::printf("error: %s logged no %llu segments: %s\n", floor.name.c_str(),
                  static_cast<unsigned long long>(segments), said.c_str());
      return false;
    }
    const auto n = static_cast<double>(segments);
    floor.rates.push_back({n / seconds, n / cpuSeconds});
  }
  return true;
}

bool LineFloors::Report(const std::string& what, const std::vector<Rate>& rates, double budget) const {
  bool met = true;
  for (const Floor& floor : m_floors) {
    std::vector<double> wall, cpu, wallRatios, cpuRatios;
    for (std::size_t run = 0; run < floor.rates.size(); ++run) {
      wall.push_back(floor.rates[run].wall);
      cpu.push_back(floor.rates[run].cpu);
      if (run >= rates.size()) continue;
      wallRatios.push_back(rates[run].wall / floor.rates[run].wall);
      cpuRatios.push_back(rates[run].cpu / floor.rates[run].cpu);
    }
    const double ratio = Median(wallRatios);
    std::printf("%-40s %9.0f segments/s (processor time: %.0f; medians of %zu runs)\n", floor.name.c_str(),
                Median(wall), Median(cpu), floor.rates.size());
    std::printf("  %s / floor: %.2f (processor time: %.2f)  budget >= %.2f: %s\n", what.c_str(), ratio,
                Median(cpuRatios), budget, ratio >= budget ? "met" : "MISSED");
    met = met && ratio >= budget;
  }
  return met;
}

double Median(std::vector<double> values) {
  if (values.empty()) return 0;
  std::sort(values.begin(), values.end());
  return values[values.size() / 2];
}

}  // namespace bench
