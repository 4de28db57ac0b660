#pragma once
// The processes that hold each socket, and what they run. Holders are found in /proc by a
// thread of its own, so that a verdict never waits for a scan: a verdict takes the holders
// remembered for a socket, each checked with one readlink to hold it still, or asks for them
// and comes back once they are published. One scan serves every socket asked for meanwhile,
// and looks first only at the processes that can hold them (see Looks), at all of them when
// asked. Remembered holders are looked for again once they are a second old, while verdicts
// go on with them.
#include <sys/types.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <unordered_map>
#include <unordered_set>
#include <utility>
#include <vector>

#include "firewall/verdicts/authorized_paths.h"
#include "firewall/verdicts/socket_owner.h"

class SocketHolders {
 public:
  // Looks at the processes of the process folder `proc` (a pid namespace's own, for tests).
  explicit SocketHolders(std::string proc = "/proc");
  ~SocketHolders();
  SocketHolders(const SocketHolders&) = delete;
  SocketHolders& operator=(const SocketHolders&) = delete;

  // An eventfd that becomes readable when holders found by a scan are published.
  int Published() const { return m_published; }
  void Acknowledge();
  // How many scans have begun so far.
  std::uint64_t Generation();

  struct Found {
    std::vector<pid_t> pids;
    bool everywhere = false;  // every process was looked at
  };
  // The processes that hold `socket` now, of those last found, but pid 1. Nothing when they must be
  // looked for first (they are asked for): the socket was never looked for, or every holder
  // found has left it and the search was made before scan `since` began.
  std::optional<Found> Holders(const ReceivingSocket& socket, std::uint64_t since);
  // Asks for the holders of `socket` among every process.
  void LookEverywhere(const ReceivingSocket& socket);

  // The file that process `pid` runs; nothing when it cannot be read or the file was
  // deleted (or replaced, as an upgrade does) since it started.
  std::optional<FileId> Executable(pid_t pid) const;
  // Whether process `pid` is traced (or cannot be told apart from one that is).
  bool Traced(pid_t pid) const;

 private:
  using Descriptors = std::vector<std::pair<pid_t, int>>;  // one per holding process
  struct Holding {
    Descriptors descriptors;
    bool everywhere = false;
    std::uint64_t generation = 0;  // the scan that found them
    std::chrono::steady_clock::time_point foundAt;
    uid_t owner = 0;
  };
  struct Request {
    uid_t owner = 0;
    bool everywhere = false;
  };
  using Wanted = std::unordered_map<std::uint64_t, Request>;  // by socket inode

  // Whose processes a scan looks into.
  struct Looking {
    std::unordered_set<uid_t> owners;
    bool everyone = false;
  };

  void Want(std::uint64_t inode, Request request);
  void Remember(std::uint64_t inode, Holding holding);
  void Run();
  static Looking Looks(const Wanted& wanted);
  // One pass over the processes; adds to `wanted` the sockets asked for meanwhile.
  std::unordered_map<std::uint64_t, Descriptors> Scan(Wanted& wanted);
  void Look(int processes, pid_t pid, const Wanted& wanted, const Looking& looking,
            std::unordered_map<std::uint64_t, Descriptors>* found) const;
  bool Holds(pid_t pid, int fd, std::uint64_t inode) const;

  const std::string m_proc;
  bool m_countsDescriptors = false;  // stat tells how many descriptors a process holds
  int m_published = -1;
  std::mutex m_mutex;  // guards what follows
  std::condition_variable m_wake;
  std::unordered_map<std::uint64_t, Holding> m_holdings;
  std::unordered_map<uid_t, std::size_t> m_remembered;  // how many of each user's sockets
  Wanted m_wanted;
  std::uint64_t m_generation = 0;
  std::atomic<bool> m_stop{false};  // set under the mutex; a pass under way ends early
  std::atomic<bool> m_more{false};  // sockets were asked for since the pass began
  std::thread m_worker;             // started by the first socket asked for
};
