#pragma once
// What the benchmarks of the verdicts share: namespaces A (servers, firewall) and B
// (clients), connections timed from B, and listeners of an unprivileged user that the
// firewall does not authorize.
#include <fcntl.h>
#include <grp.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "bench/firewall_store/latency.h"
#include "firewall/com/status.h"
#include "tests/integration/support/echo_process.h"
#include "tests/integration/support/netns.h"
#include "tests/integration/support/sockets.h"

using Clock = std::chrono::steady_clock;
inline constexpr const char* kA = NetnsPair::kAddressA;
inline constexpr uid_t kNobody = 65534;

inline double Ms(Clock::duration duration) { return std::chrono::duration<double, std::milli>(duration).count(); }

[[noreturn]] inline void Fail(const char* doing, const std::string& reason = std::strerror(errno)) {
  std::fprintf(stderr, "%s failed: %s\n", doing, reason.c_str());
  std::exit(1);
}

inline void FailUnless(const Status& status, const char* doing) {
  if (!status.ok()) Fail(doing, status.reason());
}

// Closes with a reset, so that thousands of connections leave nothing in TIME_WAIT.
inline void Reset(int fd) {
  const linger now{1, 0};
  setsockopt(fd, SOL_SOCKET, SO_LINGER, &now, sizeof now);
  close(fd);
}

// In a child: become an unprivileged user, to die with the benchmark.
inline void BecomeNobody() {
  if (setgroups(0, nullptr) != 0 || setresgid(kNobody, kNobody, kNobody) != 0 ||
      setresuid(kNobody, kNobody, kNobody) != 0)
    _exit(1);
  prctl(PR_SET_PDEATHSIG, SIGKILL);  // after the change of user, which clears it
}

// Runs `work` on a thread inside namespace `name`, and waits for it.
inline void InNamespaceThread(const std::string& name, const std::function<void()>& work) {
  std::thread([&] {
    const InNamespace inside(name);
    if (inside.Entered()) work();
  }).join();
}

// The time of one connection to A's `port` from the calling thread's namespace, connect() to
// handshake done; negative where it does not complete within `timeoutMs`.
inline double TimeConnection(int port, int timeoutMs) {
  const auto start = Clock::now();
  const int fd = ConnectTcp(kA, port, timeoutMs);
  const double took = Ms(Clock::now() - start);
  if (fd < 0) return -1;
  Reset(fd);
  return took;
}

// Adds the time of `count` connections made one after another from namespace `netnsB`;
// fails past `timeoutMs`.
inline void TimeConnections(const std::string& netnsB, int port, int count, Samples* samples, int timeoutMs = 3000) {
  InNamespaceThread(netnsB, [&] {
    for (int i = 0; i < count; ++i) {
      const double took = TimeConnection(port, timeoutMs);
      if (took < 0) Fail("a connection");
      samples->Add(took);
    }
  });
}

// Copies of the echo server, a program that is not listed, listening as the unprivileged
// user on A's address at `count` ports from `firstPort`, in the calling thread's namespace.
class UnlistedListeners {
 public:
  UnlistedListeners(const std::string& folder, int count, int firstPort) {
    const std::string path = folder + "/unlisted/echo";
    if (!EchoProcess::CopyTo(path) || chmod(folder.c_str(), 0755) != 0) Fail("copying the echo server");
    for (int i = 0; i < count; ++i) {
      int ready[2];
      if (pipe2(ready, O_CLOEXEC) != 0) Fail("a pipe");
      const std::string port = std::to_string(firstPort + i);
      const pid_t pid = fork();
      if (pid == 0) {
        BecomeNobody();
        dup2(ready[1], STDOUT_FILENO);
        execl(path.c_str(), path.c_str(), kA, port.c_str(), nullptr);
        _exit(127);
      }
      close(ready[1]);
      char said[6];
      if (pid < 0 || read(ready[0], said, sizeof said) != sizeof said) Fail("an unlisted listener");
      close(ready[0]);
      m_children.push_back(pid);
    }
  }
  ~UnlistedListeners() {
    for (const pid_t pid : m_children) kill(pid, SIGKILL);
    for (const pid_t pid : m_children) waitpid(pid, nullptr, 0);
  }
  UnlistedListeners(const UnlistedListeners&) = delete;
  UnlistedListeners& operator=(const UnlistedListeners&) = delete;

 private:
  std::vector<pid_t> m_children;
};
