// The traffic page as a user meets it: the built program itself, `brenvo --capture-file FILE`,
// with the window off screen (QT_QPA_PLATFORM=offscreen), the store backend on a private
// database and a private working folder, timed from its start until "Logger.txt" holds a
// line for every segment of the file; then SIGTERM ends it. The file: 1,000,000 TCP segments over 10,000 connections,
// data of 0 to 1,400 bytes and TCP options in every segment. Each run is followed by runs of the floors (see
// bench/line_floor) over the same file. Every log is compared with our own floor's, which writes the same lines, byte
// for byte. Printed: the rate, the processor time of the capture thread, of the GUI thread and of the whole process
// until the log was complete, and the median rate over the floor's. Budget: 0.8 of the floor's rate or more.
//
// usage: monitor_program_bench [segments [connections [runs]]]
#include "bench/line_floor/line_floor.h"
#include "bench/monitor_pipeline/traffic_bench.h"
#include "bench/monitor_program/program_runs.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

using bench::ProcessorTimes;
using bench::ProcessorTimesWatch;
using bench::ReadFile;

constexpr auto kGiveUp = 300s;

std::uintmax_t FileSize(const fs::path& path) {
  struct stat info;
  return ::stat(path.c_str(), &info) == 0 ? static_cast<std::uintmax_t>(info.st_size) : 0;
}

struct ProgramRun {
  bool ok = false;
  double seconds = 0;
  ProcessorTimes times;
};

// Runs the program in `work` over `capture` until its log has `logSize` bytes.
ProgramRun RunProgram(const fs::path& work, const std::string& capture, std::uintmax_t logSize) {
  fs::create_directories(work);
  fs::remove(work / "Logger.txt");
  const std::vector<std::string> command = {
      BRENVO_PROGRAM, "--firewall=store", "--db", (work / "firewall.db").string(), "--capture-file", capture};
  std::vector<char*> argv;
  for (const std::string& arg : command) argv.push_back(const_cast<char*>(arg.c_str()));
  argv.push_back(nullptr);

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addchdir_np(&actions, work.c_str());
  posix_spawn_file_actions_addopen(&actions, 1, "brenvo.out", O_WRONLY | O_CREAT | O_TRUNC, 0644);
  posix_spawn_file_actions_adddup2(&actions, 1, 2);
  ProgramRun run;
  const auto start = Clock::now();
  pid_t pid;
  const bool spawned = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ) == 0;
  posix_spawn_file_actions_destroy(&actions);
  if (!spawned) {
    std::printf("error: cannot start %s\n", argv[0]);
    return run;
  }
  int status = 0;
  bool ended = false;
  ProcessorTimesWatch watch(pid);
  while (FileSize(work / "Logger.txt") < logSize) {
    watch.Look();
    if (::waitpid(pid, &status, WNOHANG) == pid) {
      ended = true;
      break;
    }
    if (Clock::now() - start > kGiveUp) break;
    std::this_thread::sleep_for(2ms);
  }
  run.seconds = std::chrono::duration<double>(Clock::now() - start).count();
  if (!ended) {
    watch.Look();
    run.times = watch.Times();
    ::kill(pid, SIGTERM);
    ::waitpid(pid, &status, 0);
  }
  const bool exitedWell = !ended && WIFEXITED(status) && WEXITSTATUS(status) == 0;
  if (!exitedWell || FileSize(work / "Logger.txt") != logSize) {
    std::printf("error: the program %s with %llu of %llu bytes logged; it said:\n%s",
                ended ? "ended by itself" : "did not end well",
                static_cast<unsigned long long>(FileSize(work / "Logger.txt")),
                static_cast<unsigned long long>(logSize), ReadFile(work / "brenvo.out").c_str());
    return run;
  }
  run.ok = true;
  return run;
}

}  // namespace

int main(int argc, char** argv) {
  ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
  const TrafficBench bench(argc, argv, tools::kRealisticTraffic);
  const auto& [segments, connections, runs, dir, file] = bench;

  // Our own floor writes the program's lines: its log is the one the program must write.
  const fs::path reference = dir / "reference.log";
  const std::string floorCommand =
      std::string(BRENVO_OWN_FLOOR) + " " + file + " " + reference.string() + " 2>/dev/null";
  if (std::system(floorCommand.c_str()) != 0) {
    std::printf("error: %s failed\n", floorCommand.c_str());
    return 1;
  }
  const std::string expected = ReadFile(reference);
  if (static_cast<std::uint64_t>(std::count(expected.begin(), expected.end(), '\n')) != segments) {
    std::printf("error: the reference log does not hold %llu lines\n", static_cast<unsigned long long>(segments));
    return 1;
  }

  bench::LineFloors floors(dir);
  bench::ProgramRuns programRuns;
  for (int run = 0; run < runs; ++run) {
    const ProgramRun result = RunProgram(dir / "work", file, expected.size());
    if (!result.ok) return 1;
    if (ReadFile(dir / "work" / "Logger.txt") != expected) {
      std::printf("error: Logger.txt differs from the reference log\n");
      return 1;
    }
    programRuns.Add(segments, result.seconds, result.times);
    if (!floors.Run(file, segments)) return 1;
  }
  programRuns.PrintMedians("whole program (start to complete log)");
  floors.Report("whole program", programRuns.Rates(), 0.8);
  return 0;
}
