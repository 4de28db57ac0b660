#include "tests/integration/support/service_world.h"

#include <fcntl.h>
#include <grp.h>
#include <poll.h>
#include <sched.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <sdbus-c++/sdbus-c++.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include "firewall/bus/bus_protocol.h"
#include "tests/support/private_bus.h"

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

constexpr const char* kPolkitd = "/usr/lib/polkit-1/polkitd";
constexpr const char* kPolkitBusPolicy = "/usr/share/dbus-1/system.d/org.freedesktop.PolicyKit1.conf";

bool Write(const std::string& path, const std::string& text, mode_t mode = 0644) {
  std::ofstream out(path, std::ios::trunc);
  out << text;
  out.close();
  return out && chmod(path.c_str(), mode) == 0;
}

std::string Read(const std::string& path) {
  std::ifstream in(path);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

// The process enters a mount namespace of its own once; what the worlds mount there is
// seen by it and its children only.
bool EnterPrivateMounts() {
  static const bool entered =
      unshare(CLONE_NEWNS) == 0 && mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0;
  return entered;
}

// In a child: work in `home`, which is also the runtime folder.
void EnterHome(const std::string& home) {
  if (chdir(home.c_str()) != 0) _exit(124);
  setenv("XDG_RUNTIME_DIR", home.c_str(), 1);
}

// In a child: become `uid` with its own group and no other.
void BecomeUser(uid_t uid) {
  if (uid == 0) return;
  if (setgroups(0, nullptr) != 0 || setresgid(uid, uid, uid) != 0 || setresuid(uid, uid, uid) != 0) _exit(126);
}

[[noreturn]] void Exec(const std::vector<std::string>& argv) {
  std::vector<char*> args;
  for (const std::string& arg : argv) args.push_back(const_cast<char*>(arg.c_str()));
  args.push_back(nullptr);
  execvp(args[0], args.data());
  _exit(127);
}

// A child that dies with the test, its output in `log`.
pid_t Start(const std::vector<std::string>& argv, const std::string& log, uid_t uid, const std::string& netns = "",
            const std::string& home = "") {
  const pid_t pid = fork();
  if (pid != 0) return pid;
  prctl(PR_SET_PDEATHSIG, SIGKILL);
  if (!netns.empty()) {
    const int fd = open(("/run/netns/" + netns).c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0 || setns(fd, CLONE_NEWNET) != 0) _exit(125);
  }
  const int out = open(log.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
  const int in = open("/dev/null", O_RDONLY);
  dup2(in, STDIN_FILENO);
  dup2(out, STDOUT_FILENO);
  dup2(out, STDERR_FILENO);
  if (!home.empty()) EnterHome(home);
  BecomeUser(uid);
  Exec(argv);
}

template <class Ready>
bool WaitUntil(Ready ready, std::chrono::milliseconds limit) {
  const auto until = std::chrono::steady_clock::now() + limit;
  while (!ready()) {
    if (std::chrono::steady_clock::now() > until) return false;
    std::this_thread::sleep_for(10ms);
  }
  return true;
}

void Stop(pid_t& pid, int signal) {
  if (pid <= 0) return;
  kill(pid, signal);
  waitpid(pid, nullptr, 0);
  pid = -1;
}

}  // namespace

int WaitFor(pid_t pid) {
  int status = 0;
  if (waitpid(pid, &status, 0) != pid) return -1;
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

long ResidentKib(pid_t pid) {
  std::ifstream status("/proc/" + std::to_string(pid) + "/status");
  for (std::string field; status >> field;) {
    if (field == "VmRSS:") {
      long kib = 0;
      status >> kib;
      return kib;
    }
  }
  return 0;
}

std::string ServiceWorld::Problem() {
  if (geteuid() != 0) return "needs root for a private bus, polkitd and network namespaces";
  if (access(kPolkitd, X_OK) != 0) return std::string("needs polkitd (") + kPolkitd + ")";
  if (std::system("command -v dbus-daemon >/dev/null 2>&1") != 0) return "needs dbus-daemon";
  return "";
}

ServiceWorld::ServiceWorld() {
  if (!Make() && m_failure.empty()) m_failure = "the test world could not be made";
}

bool ServiceWorld::BindOver(const std::string& source, const std::string& target) {
  if (mount(source.c_str(), target.c_str(), nullptr, MS_BIND, nullptr) != 0) {
    m_failure = "cannot bind " + source + " over " + target;
    return false;
  }
  m_mounts.push_back(target);
  return true;
}

bool ServiceWorld::Make() {
  if (!EnterPrivateMounts()) {
    m_failure = "cannot make a private mount namespace";
    return false;
  }
  std::string pattern = "/tmp/brenvo-world-XXXXXX";
  if (!mkdtemp(pattern.data())) return false;
  m_dir = pattern;
  // polkitd and the test users must reach the bus socket and polkit's files.
  chmod(m_dir.c_str(), 0755);
  for (const char* folder : {"/actions", "/rules", "/empty"}) fs::create_directory(m_dir + folder);
  // Each user's programs run in a folder of its own, which is also their runtime folder, so
  // that nothing they make lands outside the world.
  for (const uid_t uid : {uid_t{0}, kAllowedUid, kDeniedUid}) {
    const std::string home = Home(uid);
    fs::create_directory(home);
    if (chmod(home.c_str(), 0700) != 0 || chown(home.c_str(), uid, uid) != 0) return false;
  }

  const std::string users =
      "brenvo-allowed:x:4201:4201::/nonexistent:/usr/sbin/nologin\n"
      "brenvo-denied:x:4202:4202::/nonexistent:/usr/sbin/nologin\n";
  const std::string groups = "brenvo-allowed:x:4201:\nbrenvo-denied:x:4202:\n";
  if (!Write(m_dir + "/passwd", Read("/etc/passwd") + users) || !Write(m_dir + "/group", Read("/etc/group") + groups))
    return false;
  if (!Write(m_dir + "/actions/org.brenvo.policy", Read(BRENVO_SOURCE_DIR "/resources/system/org.brenvo.policy")))
    return false;
  if (!Write(m_dir + "/rules/50-brenvo-test.rules",
             "polkit.addRule(function(action, subject) {\n"
             "  if (action.id.indexOf(\"org.brenvo.\") == 0 && subject.user == \"brenvo-allowed\")\n"
             "    return polkit.Result.YES;\n"
             "});\n"))
    return false;
  if (!BindOver(m_dir + "/passwd", "/etc/passwd") || !BindOver(m_dir + "/group", "/etc/group") ||
      !BindOver(m_dir + "/actions", "/usr/share/polkit-1/actions") ||
      !BindOver(m_dir + "/rules", "/etc/polkit-1/rules.d"))
    return false;
  if (fs::exists("/usr/share/polkit-1/rules.d") && !BindOver(m_dir + "/empty", "/usr/share/polkit-1/rules.d"))
    return false;

  // The system bus's own policy: nobody owns a name or calls a service unless the service's
  // policy (polkit's, Brenvo's) lets them.
  m_bus = std::make_unique<PrivateBus>(
      m_dir,
      "  <policy context=\"default\">\n"
      "    <allow user=\"*\"/>\n"
      "    <deny own=\"*\"/>\n"
      "    <deny send_type=\"method_call\"/>\n"
      "    <allow send_type=\"signal\"/>\n"
      "    <allow send_requested_reply=\"true\" send_type=\"method_return\"/>\n"
      "    <allow send_requested_reply=\"true\" send_type=\"error\"/>\n"
      "    <allow receive_type=\"method_call\"/>\n"
      "    <allow receive_type=\"method_return\"/>\n"
      "    <allow receive_type=\"error\"/>\n"
      "    <allow receive_type=\"signal\"/>\n"
      "    <allow send_destination=\"org.freedesktop.DBus\" send_interface=\"org.freedesktop.DBus\"/>\n"
      "    <allow send_destination=\"org.freedesktop.DBus\" send_interface=\"org.freedesktop.DBus.Introspectable\"/>\n"
      "  </policy>\n"
      "  <include>" +
          std::string(kPolkitBusPolicy) +
          "</include>\n"
          "  <include>" BRENVO_SOURCE_DIR "/resources/system/org.brenvo.Firewall1.conf</include>");
  if (!m_bus->Failure().empty()) {
    m_failure = m_bus->Failure();
    return false;
  }
  m_polkit = Start({kPolkitd, "--no-debug"}, m_dir + "/polkit.log", 0);
  if (!WaitUntil([&] { return NameOwned("org.freedesktop.PolicyKit1"); }, 10s)) {
    m_failure = "polkitd did not start: " + Read(m_dir + "/polkit.log");
    return false;
  }
  return true;
}

ServiceWorld::~ServiceWorld() {
  Stop(m_service, SIGTERM);
  Stop(m_polkit, SIGTERM);
  m_bus.reset();
  for (const std::string& program : m_programMounts) umount2(program.c_str(), MNT_DETACH);
  for (auto it = m_mounts.rbegin(); it != m_mounts.rend(); ++it) umount2(it->c_str(), MNT_DETACH);
  if (!m_dir.empty()) {
    std::error_code ignored;
    fs::remove_all(m_dir, ignored);
  }
}

bool ServiceWorld::NameOwned(const std::string& name) const {
  try {
    auto connection = sdbus::createSystemBusConnection();
    auto daemon = sdbus::createProxy(*connection, "org.freedesktop.DBus", "/org/freedesktop/DBus");
    bool owned = false;
    daemon->callMethod("NameHasOwner").onInterface("org.freedesktop.DBus").withArguments(name).storeResultsTo(owned);
    return owned;
  } catch (const sdbus::Error&) {
    return false;
  }
}

bool ServiceWorld::StartService(const std::string& netns, const std::vector<std::string>& extraArgs) {
  std::vector<std::string> argv{BRENVOD_PATH};
  if (std::find(extraArgs.begin(), extraArgs.end(), "--db") == extraArgs.end())
    argv.insert(argv.end(), {"--db", StorePath()});
  argv.insert(argv.end(), extraArgs.begin(), extraArgs.end());
  const std::string log = m_dir + "/service.log";
  m_service = Start(argv, log, 0, netns);
  const bool up =
      WaitUntil([&] { return NameOwned(bus::kServiceName) || waitpid(m_service, nullptr, WNOHANG) == m_service; }, 10s);
  if (up && NameOwned(bus::kServiceName)) return true;
  m_failure = "brenvod did not come up: " + Read(log);
  Stop(m_service, SIGKILL);
  return false;
}

void ServiceWorld::StopService(int signal) {
  Stop(m_service, signal);
  // The bus sees the name go only once it has read the closed connection.
  WaitUntil([&] { return !NameOwned(bus::kServiceName); }, 5s);
}

void ServiceWorld::StopPolkit() {
  Stop(m_polkit, SIGTERM);
  WaitUntil([&] { return !NameOwned("org.freedesktop.PolicyKit1"); }, 5s);
}

std::vector<std::string> ServiceWorld::Reachable(std::vector<std::string> argv) const {
  if (argv.empty() || !argv[0].starts_with('/') || m_dir.empty() || !m_failure.empty()) return argv;
  // The file bound in the private mount namespace: no copy, and the build's own folders
  // need not be open to anyone.
  const std::string reachable = m_dir + "/programs" + argv[0];
  if (!fs::exists(reachable)) {
    std::error_code ignored;
    fs::create_directories(fs::path(reachable).parent_path(), ignored);
    for (fs::path folder = fs::path(reachable).parent_path(); folder != m_dir; folder = folder.parent_path())
      chmod(folder.c_str(), 0755);
    if (!Write(reachable, "", 0755) || mount(argv[0].c_str(), reachable.c_str(), nullptr, MS_BIND, nullptr) != 0)
      return argv;
    m_programMounts.push_back(reachable);
  }
  argv[0] = reachable;
  return argv;
}

pid_t ServiceWorld::Spawn(uid_t uid, const std::vector<std::string>& argv, const std::string& log,
                          const std::string& netns) const {
  return Start(Reachable(argv), log, uid, netns, Home(uid));
}

ServiceWorld::Result ServiceWorld::Run(uid_t uid, const std::vector<std::string>& given) const {
  const std::vector<std::string> argv = Reachable(given);
  int out[2], err[2];
  if (pipe2(out, O_CLOEXEC) != 0 || pipe2(err, O_CLOEXEC) != 0) return {};
  const pid_t pid = fork();
  if (pid == 0) {
    prctl(PR_SET_PDEATHSIG, SIGKILL);
    dup2(out[1], STDOUT_FILENO);
    dup2(err[1], STDERR_FILENO);
    const int in = open("/dev/null", O_RDONLY);
    dup2(in, STDIN_FILENO);
    EnterHome(Home(uid));
    BecomeUser(uid);
    Exec(argv);
  }
  close(out[1]);
  close(err[1]);
  Result result;
  pollfd streams[2] = {{out[0], POLLIN, 0}, {err[0], POLLIN, 0}};
  std::string* texts[2] = {&result.out, &result.err};
  for (int open = 2; open > 0;) {
    if (poll(streams, 2, -1) < 0) break;
    for (int i = 0; i < 2; ++i) {
      if (!(streams[i].revents & (POLLIN | POLLHUP))) continue;
      char buffer[4096];
      const ssize_t n = read(streams[i].fd, buffer, sizeof buffer);
      if (n > 0) {
        texts[i]->append(buffer, static_cast<std::size_t>(n));
      } else {
        streams[i].fd = -1;
        --open;
      }
    }
  }
  close(out[0]);
  close(err[0]);
  result.status = WaitFor(pid);
  return result;
}
