#pragma once
// A world of the test's own for the firewall service: a private system bus, real polkitd on
// it with the project's polkit action and a rule that allows one test user and not another,
// and those two users, who exist only here. Everything lives in a private mount namespace
// that the test process enters, so nothing is written to the host: the bus socket and the
// store lie in a temporary folder, the polkit files and the users are bind-mounted over the
// host's only inside the namespace. The service runs where the test says, usually in a
// network namespace of the test's own.
#include <sys/types.h>

#include <memory>
#include <string>
#include <vector>

class PrivateBus;

class ServiceWorld {
 public:
  static constexpr uid_t kAllowedUid = 4201;
  static constexpr uid_t kDeniedUid = 4202;

  // Why the world cannot be made here (not root, a program missing), or "".
  static std::string Problem();

  // Makes the world and points DBUS_SYSTEM_BUS_ADDRESS of this process at its bus.
  ServiceWorld();
  ~ServiceWorld();
  ServiceWorld(const ServiceWorld&) = delete;
  ServiceWorld& operator=(const ServiceWorld&) = delete;

  // Empty when the world is ready; otherwise what went wrong.
  const std::string& Failure() const { return m_failure; }
  // The world's folder (the store lies there unless a test says otherwise).
  const std::string& Dir() const { return m_dir; }
  std::string StorePath() const { return m_dir + "/firewall.db"; }

  // Starts brenvod on the world's store (or the one a --db among `extraArgs` names), in
  // network namespace `netns` ("" for this one), and waits until it owns its bus name.
  // False, with the service's output as the failure, when it does not come up.
  bool StartService(const std::string& netns, const std::vector<std::string>& extraArgs = {});
  // Ends the service with `signal` and waits for it.
  void StopService(int signal);
  // Ends polkitd: from then on only what needs no authorization can be done.
  void StopPolkit();
  pid_t ServicePid() const { return m_service; }

  struct Result {
    int status = -1;  // the exit status, or -1 when the program did not exit normally
    std::string out;
    std::string err;
  };
  // Runs a program as `uid` (its own group, no other groups) on the world's bus, in a
  // folder of that user's, and waits for it. A program given by its absolute path runs from
  // the world's folder, where every test user reaches it wherever the build lies (a clone in
  // root's home folder, say).
  Result Run(uid_t uid, const std::vector<std::string>& argv) const;
  // Starts a program as `uid` on the world's bus without waiting, in network namespace
  // `netns` ("" for this one); its output goes to `log`.
  pid_t Spawn(uid_t uid, const std::vector<std::string>& argv, const std::string& log,
              const std::string& netns = "") const;
  // The folder a program run as `uid` works in.
  std::string Home(uid_t uid) const { return m_dir + "/home-" + std::to_string(uid); }

  // Whether the bus shows an owner of `name` now.
  bool NameOwned(const std::string& name) const;

 private:
  bool Make();
  bool BindOver(const std::string& source, const std::string& target);
  // `argv` with its program, when given by its absolute path, seen from the world's folder.
  std::vector<std::string> Reachable(std::vector<std::string> argv) const;

  std::string m_dir;
  std::string m_failure;
  std::vector<std::string> m_mounts;
  mutable std::vector<std::string> m_programMounts;
  std::unique_ptr<PrivateBus> m_bus;
  pid_t m_polkit = -1;
  pid_t m_service = -1;
};

// Waits for a child started with Spawn; its exit status, or -1.
int WaitFor(pid_t pid);
// The resident memory of process `pid`, in KiB; 0 when it cannot be read.
long ResidentKib(pid_t pid);
