#pragma once
// The verdicts on the first packet of each new inbound flow that the table `inet brenvo`
// queues while an authorized application is enabled: accepted exactly when the local socket
// that would receive it is held by a process whose executable is an authorized path;
// dropped otherwise. A thread of its own reads the queue from Serve() until the object is
// destroyed; it waits on nothing but the kernel, never on the bus or on polkit.
#include <sys/types.h>

#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "firewall/com/hresult.h"
#include "firewall/service/authorized_paths.h"
#include "firewall/service/inbound_flow.h"
#include "firewall/service/socket_owner.h"

struct mnl_socket;
struct nlmsghdr;

class AppVerdicts {
 public:
  // Finds sockets in the network namespace of the thread that makes it.
  AppVerdicts();
  ~AppVerdicts();
  AppVerdicts(const AppVerdicts&) = delete;
  AppVerdicts& operator=(const AppVerdicts&) = delete;

  // Starts reading the queue in the calling thread's network namespace, unless it is read
  // already. Fails, with the reason as the thread's error text, where the queue cannot be
  // read: another process reads it, or this one may not.
  HRESULT Serve();
  // The authorized paths from the next verdict on: all of them, or one more or less.
  void SetAuthorizedPaths(const std::vector<std::string>& paths);
  void Authorize(const std::string& path, bool authorized);

  // The verdict on `flow`, arriving on interface `interface` (0: any). Called by the
  // verdict thread alone once Serve() has started it.
  bool Accepts(const InboundFlow& flow, std::uint32_t interface);

 private:
  HRESULT Bind();
  void Run();
  // Answers what is queued by now, up to a round of packets.
  void AnswerQueued();
  void Answer(const nlmsghdr* packet);
  void SendAnswers();

  SocketOwner m_owner;
  std::mutex m_pathsMutex;  // held by a verdict, and by the swap of a new set
  AuthorizedPaths m_paths;
  mnl_socket* m_queue = nullptr;
  int m_stop = -1;  // an eventfd that wakes the thread to end
  std::thread m_thread;
  std::vector<char> m_received;
  std::vector<char> m_answers;
  std::size_t m_answered = 0;  // bytes of m_answers not sent yet
};
