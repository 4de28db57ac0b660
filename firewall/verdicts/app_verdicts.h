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
  // Judge() within a round of packets, which share what is found of their sockets.
  Verdict Settle(const InboundFlow& flow, std::uint32_t interface, std::uint64_t since);
  Verdict JudgeSocket(const ReceivingSocket& socket, std::uint64_t since);
  void NewRound();
  void AnswerWaiting();
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
  mnl_socket* m_queue = nullptr;
  int m_stop = -1;  // an eventfd that wakes the thread to end
  std::thread m_thread;
  std::vector<char> m_received;
  std::vector<char> m_answers;
  std::vector<Waiting> m_round;                          // the packets read in one round
  std::unordered_map<std::uint64_t, Verdict> m_settled;  // socket: its verdict in this round
  std::deque<Waiting> m_waiting;
  std::size_t m_answered = 0;  // bytes of m_answers not sent yet
};
