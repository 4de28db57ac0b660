#include "tests/support/private_bus.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <thread>

PrivateBus::PrivateBus(const std::string& folder, const std::string& policy) {
  const std::string socket = folder + "/bus";
  const std::string config = folder + "/bus.conf";
  std::ofstream(config) << "<!DOCTYPE busconfig PUBLIC \"-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN\"\n"
                           " \"http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd\">\n"
                           "<busconfig>\n"
                           "  <type>system</type>\n"
                           "  <listen>unix:path="
                        << socket
                        << "</listen>\n"
                           "  <auth>EXTERNAL</auth>\n"
                        << policy << "\n</busconfig>\n";
  const std::string log = folder + "/bus.log";
  m_daemon = fork();
  if (m_daemon == 0) {
    prctl(PR_SET_PDEATHSIG, SIGKILL);
    const int out = open(log.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    dup2(out, STDOUT_FILENO);
    dup2(out, STDERR_FILENO);
    execlp("dbus-daemon", "dbus-daemon", ("--config-file=" + config).c_str(), "--nofork", nullptr);
    _exit(127);
  }
  for (int i = 0; i < 500 && !std::filesystem::exists(socket); ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  if (!std::filesystem::exists(socket)) {
    std::ifstream in(log);
    m_failure = "dbus-daemon did not start: " + std::string((std::istreambuf_iterator<char>(in)), {});
    return;
  }
  setenv("DBUS_SYSTEM_BUS_ADDRESS", ("unix:path=" + socket).c_str(), 1);
}

PrivateBus::~PrivateBus() {
  unsetenv("DBUS_SYSTEM_BUS_ADDRESS");
  if (m_daemon <= 0) return;
  kill(m_daemon, SIGTERM);
  waitpid(m_daemon, nullptr, 0);
}
