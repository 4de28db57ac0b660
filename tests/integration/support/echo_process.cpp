#include "tests/integration/support/echo_process.h"

#include <fcntl.h>
#include <grp.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>

bool EchoProcess::CopyTo(const std::string& path) {
  namespace fs = std::filesystem;
  std::error_code error;
  fs::create_directories(fs::path(path).parent_path(), error);
  return fs::copy_file(BRENVO_ECHO_PATH, path, fs::copy_options::overwrite_existing, error) &&
         chmod(path.c_str(), 0755) == 0;
}

EchoProcess::EchoProcess(const std::string& path, const std::string& address, int port, uid_t uid) {
  int ready[2];
  if (pipe2(ready, O_CLOEXEC) != 0) return;
  const std::string portText = std::to_string(port);
  m_pid = fork();
  if (m_pid == 0) {
    if (uid != 0 && (setgroups(0, nullptr) != 0 || setresgid(uid, uid, uid) != 0 || setresuid(uid, uid, uid) != 0))
      _exit(126);
    prctl(PR_SET_PDEATHSIG, SIGKILL);
    dup2(ready[1], STDOUT_FILENO);
    execl(path.c_str(), path.c_str(), address.c_str(), portText.c_str(), nullptr);
    _exit(127);
  }
  close(ready[1]);
  pollfd waiting{ready[0], POLLIN, 0};
  char said[6] = {};
  m_serving = m_pid > 0 && poll(&waiting, 1, 5000) == 1 && read(ready[0], said, sizeof said) == sizeof said &&
              std::string(said, sizeof said) == "ready\n";
  close(ready[0]);
}

EchoProcess::~EchoProcess() {
  if (m_pid <= 0) return;
  kill(m_pid, SIGKILL);
  waitpid(m_pid, nullptr, 0);
}
