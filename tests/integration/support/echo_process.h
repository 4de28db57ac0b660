#pragma once
// The echo server (tools/brenvo-echo) run from a path of the test's own, as a program the
// firewall may authorize, in the network namespace of the calling thread.
#include <sys/types.h>

#include <string>

class EchoProcess {
 public:
  // Copies the echo server to `path`, making its folder: a program of its own path.
  static bool CopyTo(const std::string& path);

  // Runs `path` on `address` and `port`, as user `uid` (and its group) where not 0, and
  // waits until it serves (or fails to start).
  EchoProcess(const std::string& path, const std::string& address, int port, uid_t uid = 0);
  ~EchoProcess();
  EchoProcess(const EchoProcess&) = delete;
  EchoProcess& operator=(const EchoProcess&) = delete;

  bool Serving() const { return m_serving; }
  pid_t Pid() const { return m_pid; }

 private:
  pid_t m_pid = -1;
  bool m_serving = false;
};
