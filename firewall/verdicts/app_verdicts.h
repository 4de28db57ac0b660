#pragma once
// The verdicts on the first packet of each new inbound flow that the table `inet brenvo`
// queues while an authorized application is enabled: accepted exactly when every local
// socket that may receive it is held by processes that all run the file of an authorized
// path, and are not traced (pid 1, the service manager that holds the listeners of
// socket-activated services, aside); dropped otherwise. A thread of its own reads the queue
// from Serve() until the object is destroyed; it waits on nothing but the kernel, never on
// the bus or on polkit. A packet whose sockets' holders are not known yet stays queued,
// while later packets are answered, until they are found (see SocketHolders).
#include <sys/types.h>

#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <unordered_map>
#include <vector>

#include "firewall/com/status.h"
#include "firewall/verdicts/authorized_paths.h"
#include "firewall/verdicts/inbound_flow.h"
#include "firewall/verdicts/socket_holders.h"
#include "firewall/verdicts/socket_owner.h"

struct mnl_socket;
struct nlmsghdr;

class AppVerdicts {
 public:
  enum class Verdict { kAccept, kDrop, kWait };
  // Told of each flow dropped: whether a socket would have received it, the holder judged
  // not authorized (0: none found, as when only the service manager held it) and the
  // socket's owner. Called on the verdict thread: it must not wait (see DropLog::Refused).
  using RefusalReport = std::function<void(const InboundFlow& flow, bool listening, pid_t pid, uid_t owner)>;

  // Finds sockets in the network namespace of the thread that makes it, and their holders
  // in the process folder `proc` (a pid namespace's own, for tests).
  explicit AppVerdicts(const std::string& proc = "/proc");
  ~AppVerdicts();
  AppVerdicts(const AppVerdicts&) = delete;
  AppVerdicts& operator=(const AppVerdicts&) = delete;

  // Starts reading the queue in the calling thread's network namespace, unless it is read
  // already. Fails, with the reason, where the queue cannot be
  // read: another process reads it, or this one may not.
  Status Serve();
  // The authorized paths from the next verdict on: all of them, or one more or less.
  void SetAuthorizedPaths(const std::vector<std::string>& paths);
  void Authorize(const std::string& path, bool authorized);
  // Set once, before Serve().
  void ReportRefusals(RefusalReport report) { m_report = std::move(report); }

  // The verdict on `flow`, arriving on interface `interface` (0: any) while scan `since`
  // was the last begun (see SocketHolders::Holders); kWait until the holders of one of its
  // sockets are found. Called by the verdict thread alone once Serve() has started it.
  Verdict Judge(const InboundFlow& flow, std::uint32_t interface, std::uint64_t since);
  // Readable when a verdict that waited may be given (then Acknowledge()).
  int Published() const { return m_holders.Published(); }
  void Acknowledge() { m_holders.Acknowledge(); }
  std::uint64_t Generation() { return m_holders.Generation(); }

 private:
  Status Bind();
  void Run();
  // Answers what is queued by now, up to a round of packets.
  void AnswerQueued();
  void Read(const nlmsghdr* packet, std::uint64_t since);
  // Whom a flow not accepted would be refused for, as far as its verdict found out.
  struct Refusal {
    bool known = false;  // its sockets were asked for
    bool listening = false;
    pid_t pid = 0;
    uid_t owner = 0;
  };
  // A socket's verdict, and the holder that decided a drop.
  struct Settled {
    Verdict verdict;
    pid_t refusedFor = 0;
  };
  // Judge() within a round of packets, which share what is found of their sockets.
  Verdict Settle(const InboundFlow& flow, std::uint32_t interface, std::uint64_t since, Refusal* refusal);
  Settled JudgeSocket(const ReceivingSocket& socket, std::uint64_t since);
  void NewRound();
  void AnswerWaiting();
  // Answers the packet `id` of `flow`; a drop is reported with `refusal`.
  void Answer(std::uint32_t id, const InboundFlow& flow, Verdict verdict, const Refusal& refusal);
  void Put(std::uint32_t id, bool accept);
  void SendAnswers();
  bool Authorized(pid_t pid);

  // A packet kept queued until the holders of its sockets are known.
  struct Waiting {
    std::uint32_t id;
    InboundFlow flow;
    std::uint32_t interface;
    std::uint64_t since;
    int rounds = 0;
  };

  SocketOwner m_owner;
  SocketHolders m_holders;
  const std::string m_systemRoot;  // where the paths are looked up
  std::mutex m_pathsMutex;         // held by a verdict, and by the swap of a new set
  AuthorizedPaths m_paths;
  RefusalReport m_report;
  mnl_socket* m_queue = nullptr;
  int m_stop = -1;  // an eventfd that wakes the thread to end
  std::thread m_thread;
  std::vector<char> m_received;
  std::vector<char> m_answers;
  std::vector<Waiting> m_round;                          // the packets read in one round
  std::unordered_map<std::uint64_t, Settled> m_settled;  // socket: its verdict in this round
  std::deque<Waiting> m_waiting;
  std::size_t m_answered = 0;  // bytes of m_answers not sent yet
};
