#pragma once
// Learns of the inbound flows the firewall drops, and keeps them in a BlockedFlows: those that
// no rule let in, from the copy the input chain sends to NFLOG group kDropLogGroup (see
// nft::DropLogCommand), and those the verdicts on authorized applications refused, from
// Refused(). For each it asks which local socket would have received it and finds its
// holder with SocketHolders, as the verdicts do, so that a blocked program is told from a
// closed port. A thread of its own does all of it from Serve() until the object is
// destroyed; it never waits on /proc: a flow whose holders are not known yet waits, a few
// at most, until they are published, and after a few scans is recorded as its socket's
// owner's with the program unknown. Under a flood its work is bounded by the kernel's rate
// limit on the copies, and by the same limit on the refusals it takes.
#include <sys/types.h>

#include <chrono>
#include <cstdint>
#include <deque>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "firewall/com/status.h"
#include "firewall/verdicts/authorized_paths.h"
#include "firewall/verdicts/blocked_flows.h"
#include "firewall/verdicts/drop_log_group.h"
#include "firewall/verdicts/inbound_flow.h"
#include "firewall/verdicts/socket_holders.h"
#include "firewall/verdicts/socket_owner.h"

struct mnl_socket;
struct nlmsghdr;

class DropLog {
 public:
  // Finds sockets in the network namespace of the thread that makes it, and their holders
  // in the process folder `proc`.
  explicit DropLog(BlockedFlows& blocked, const std::string& proc = "/proc");
  ~DropLog();
  DropLog(const DropLog&) = delete;
  DropLog& operator=(const DropLog&) = delete;

  // Starts the thread, reading the group in the calling thread's network namespace, unless
  // it runs already. Fails, with the reason, where the group cannot be read (the thread
  // then records the refusals alone) or the sockets cannot be asked for (it does not start).
  Status Serve();

  // A flow that the verdicts dropped, held by process `pid` (0: none known) on a socket of
  // user `owner`; `listening` false where no socket would have received it. Any thread;
  // it costs a lock, and a write where none waits yet. Forgotten beyond kDropLogRate a
  // second after a burst of kDropLogBurst, as the kernel limits its copies, or when too many
  // wait already. Kept until Serve() starts the thread.
  void Refused(const InboundFlow& flow, bool listening, pid_t pid, uid_t owner);

 private:
  // A flow to record once its socket's holders are known.
  struct Pending {
    InboundFlow flow;
    std::uint32_t interface = 0;
    std::uint64_t since = 0;
    int rounds = 0;
  };
  struct Refusal {
    InboundFlow flow;
    BlockedHolder holder;
  };

  Status Bind();
  void Run();
  void ReadCopies();
  void Read(const nlmsghdr* message, std::uint64_t since);
  void RecordRefusals();
  void RecordPending();
  // Records `pending` where its holder is known, or where `last`; whether it was.
  bool Settle(const Pending& pending, bool last);
  void Record(const InboundFlow& flow, BlockedHolder holder);

  BlockedFlows& m_blocked;
  const std::string m_proc;
  const std::string m_systemRoot;  // where a holder's program is looked up
  SocketOwner m_owner;
  SocketHolders m_holders;
  mnl_socket* m_group = nullptr;
  const int m_stop;     // an eventfd that wakes the thread to end
  const int m_refused;  // an eventfd that wakes it for refusals
  std::thread m_thread;
  std::vector<char> m_received;
  std::deque<Pending> m_pending;
  std::mutex m_refusalsMutex;  // guards what follows
  std::vector<Refusal> m_refusals;
  double m_refusalsAllowed = kDropLogBurst;  // as of m_allowedAt
  std::chrono::steady_clock::time_point m_allowedAt = std::chrono::steady_clock::now();
};
