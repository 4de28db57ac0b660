#include "firewall/verdicts/app_verdicts.h"

#include <libmnl/libmnl.h>
#include <limits.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>
// After netinet/in.h, which these kernel headers defer to.
#include <linux/netfilter.h>
#include <linux/netfilter/nfnetlink.h>
#include <linux/netfilter/nfnetlink_queue.h>

#include <cerrno>
#include <cstring>

#include "firewall/verdicts/app_queue.h"
#include "firewall/verdicts/nfnetlink_message.h"

namespace {

// Enough of a packet for its IPv6 extension headers and its ports.
constexpr std::uint32_t kCopiedBytes = 256;
// Packets waiting for a verdict; past that the kernel drops new ones, as it does those that
// no one reads.
constexpr std::uint32_t kQueueLength = 4096;
// A flood must not keep the answers back: they go to the kernel at least this often.
constexpr std::size_t kAnswersPerSend = 64;
constexpr std::size_t kPacketsPerRound = 1024;
// How many scans a packet waits through before it is dropped: two find its sockets' holders
// (the one under way when it came, then its own; one more to look everywhere) unless the
// sockets change meanwhile.
constexpr int kMostRounds = 6;
constexpr std::size_t kAnswerSize = MNL_ALIGN(sizeof(nlmsghdr)) + MNL_ALIGN(sizeof(nfgenmsg)) +
                                    MNL_ALIGN(sizeof(nlattr)) + MNL_ALIGN(sizeof(nfqnl_msg_verdict_hdr));

nlmsghdr* PutQueueMessage(char* at, std::uint8_t type, std::uint16_t flags) {
  return PutNfnetlinkMessage(at, NFNL_SUBSYS_QUEUE << 8 | type, flags, AF_UNSPEC, kAppQueue);
}

Status Refused(const std::string& why) { return Failed("the verdicts on authorized applications: " + why); }

}  // namespace

AppVerdicts::AppVerdicts(const std::string& proc)
    : m_holders(proc),
      m_systemRoot(SystemRoot(proc)),
      m_paths(m_systemRoot),
      m_received(MNL_SOCKET_BUFFER_SIZE),
      m_answers(kAnswerSize * kAnswersPerSend) {}

AppVerdicts::~AppVerdicts() {
  if (m_thread.joinable()) {
    const std::uint64_t one = 1;
    while (write(m_stop, &one, sizeof one) < 0 && errno == EINTR) {
    }
    m_thread.join();
  }
  // Closing the socket gives the queue up: what waits in it is dropped.
  if (m_queue) mnl_socket_close(m_queue);
  if (m_stop >= 0) close(m_stop);
}

Status AppVerdicts::Serve() {
  if (m_thread.joinable()) return {};
  if (!m_owner.Ready()) return Refused("the kernel's socket diagnostics (NETLINK_SOCK_DIAG) cannot be asked");
  if (!m_queue) {
    const Status status = Bind();
    if (!status.ok()) return status;
  }
  m_stop = eventfd(0, EFD_CLOEXEC);
  if (m_stop < 0) return Refused(std::strerror(errno));
  // Signals stay with the threads that expect them.
  sigset_t all, before;
  sigfillset(&all);
  pthread_sigmask(SIG_BLOCK, &all, &before);
  m_thread = std::thread(&AppVerdicts::Run, this);
  pthread_sigmask(SIG_SETMASK, &before, nullptr);
  return {};
}

Status AppVerdicts::Bind() {
  // A full socket loses packets, and so drops them, rather than failing the reads.
  m_queue = OpenNetfilterSocket();
  if (!m_queue) return Refused(std::string("netfilter's netlink: ") + std::strerror(errno));
  const int room = 4 << 20;
  setsockopt(mnl_socket_get_fd(m_queue), SOL_SOCKET, SO_RCVBUFFORCE, &room, sizeof room);

  alignas(nlmsghdr) char request[512];
  nlmsghdr* config = PutQueueMessage(request, NFQNL_MSG_CONFIG, NLM_F_ACK);
  const nfqnl_msg_config_cmd bind{NFQNL_CFG_CMD_BIND, 0, 0};
  mnl_attr_put(config, NFQA_CFG_CMD, sizeof bind, &bind);
  const nfqnl_msg_config_params params{htonl(kCopiedBytes), NFQNL_COPY_PACKET};
  mnl_attr_put(config, NFQA_CFG_PARAMS, sizeof params, &params);
  mnl_attr_put_u32(config, NFQA_CFG_QUEUE_MAXLEN, htonl(kQueueLength));
  // Never "fail open": a packet that cannot be queued is dropped.
  mnl_attr_put_u32(config, NFQA_CFG_MASK, htonl(NFQA_CFG_F_FAIL_OPEN));
  mnl_attr_put_u32(config, NFQA_CFG_FLAGS, 0);
  const int error = Configure(m_queue, config, m_received);
  if (error == 0) return {};
  mnl_socket_close(m_queue);
  m_queue = nullptr;
  return Refused(BindRefusal(error, "queue " + std::to_string(kAppQueue)));
}

void AppVerdicts::SetAuthorizedPaths(const std::vector<std::string>& paths) {
  AuthorizedPaths resolved(paths, m_systemRoot);
  const std::lock_guard lock(m_pathsMutex);
  m_paths = std::move(resolved);
}

void AppVerdicts::Authorize(const std::string& path, bool authorized) {
  // One path is followed in a few system calls: the verdict thread hardly waits.
  const std::lock_guard lock(m_pathsMutex);
  if (authorized)
    m_paths.Add(path);
  else
    m_paths.Remove(path);
}

AppVerdicts::Verdict AppVerdicts::Judge(const InboundFlow& flow, std::uint32_t interface, std::uint64_t since) {
  NewRound();
  Refusal refusal;
  return Settle(flow, interface, since, &refusal);
}

AppVerdicts::Verdict AppVerdicts::Settle(const InboundFlow& flow, std::uint32_t interface, std::uint64_t since,
                                         Refusal* refusal) {
  {
    const std::lock_guard lock(m_pathsMutex);
    if (m_paths.Empty()) return Verdict::kDrop;
  }
  const std::optional<std::vector<ReceivingSocket>> sockets = m_owner.ReceivingSockets(flow, interface);
  if (!sockets) return Verdict::kDrop;
  refusal->known = true;
  if (sockets->empty()) return Verdict::kDrop;
  refusal->listening = true;
  bool wait = false;
  for (const ReceivingSocket& socket : *sockets) {
    // Flows that arrived together to one socket share its verdict.
    auto settled = m_settled.find(socket.inode);
    if (settled == m_settled.end()) settled = m_settled.emplace(socket.inode, JudgeSocket(socket, since)).first;
    if (settled->second.verdict == Verdict::kDrop) {
      *refusal = {true, true, settled->second.refusedFor, socket.owner};
      return Verdict::kDrop;
    }
    // A flow that waits too long is refused for the first socket it waited for.
    if (settled->second.verdict == Verdict::kWait && !wait) refusal->owner = socket.owner;
    wait = wait || settled->second.verdict == Verdict::kWait;
  }
  return wait ? Verdict::kWait : Verdict::kAccept;
}

AppVerdicts::Settled AppVerdicts::JudgeSocket(const ReceivingSocket& socket, std::uint64_t since) {
  const std::optional<SocketHolders::Found> holders = m_holders.Holders(socket, since);
  if (!holders) return {Verdict::kWait};
  // Pid 1 is never among the holders found.
  for (const pid_t pid : holders->pids)
    if (!Authorized(pid)) return {Verdict::kDrop, pid};
  if (!holders->pids.empty()) return {Verdict::kAccept};
  if (holders->everywhere) return {Verdict::kDrop};
  // Only the service manager, or no one, among the processes of the socket's user and
  // root's: the service it was handed to may run as another user.
  m_holders.LookEverywhere(socket);
  return {Verdict::kWait};
}

void AppVerdicts::NewRound() {
  m_owner.Forget();
  m_settled.clear();
}

bool AppVerdicts::Authorized(pid_t pid) {
  const std::optional<FileId> executable = m_holders.Executable(pid);
  if (!executable || m_holders.Traced(pid)) return false;
  const std::lock_guard lock(m_pathsMutex);
  return m_paths.Matches(*executable);
}

void AppVerdicts::Run() {
  pollfd waiting[3] = {{mnl_socket_get_fd(m_queue), POLLIN, 0}, {m_stop, POLLIN, 0}, {Published(), POLLIN, 0}};
  for (;;) {
    if (poll(waiting, 3, -1) < 0) continue;
    if (waiting[1].revents) return;
    if (waiting[2].revents) AnswerWaiting();
    if (waiting[0].revents) AnswerQueued();
  }
}

void AppVerdicts::AnswerQueued() {
  const int fd = mnl_socket_get_fd(m_queue);
  // The packets of a round are all read before any is judged, so that what the kernel
  // tells of their sockets is no older than any of them.
  const std::uint64_t since = Generation();
  m_round.clear();
  // Back to poll now and then, so that a flood cannot keep the thread from its end.
  for (std::size_t packets = 0; packets < kPacketsPerRound; ++packets) {
    const ssize_t size = recv(fd, m_received.data(), m_received.size(), MSG_DONTWAIT);
    if (size < 0) break;
    auto* message = reinterpret_cast<nlmsghdr*>(m_received.data());
    for (int left = static_cast<int>(size); mnl_nlmsg_ok(message, left); message = mnl_nlmsg_next(message, &left))
      if (message->nlmsg_type == (NFNL_SUBSYS_QUEUE << 8 | NFQNL_MSG_PACKET)) Read(message, since);
  }
  NewRound();
  for (const Waiting& packet : m_round) {
    Refusal refusal;
    const Verdict verdict = Settle(packet.flow, packet.interface, since, &refusal);
    // The kernel holds no more packets than its queue: neither does the waiting list.
    if (verdict == Verdict::kWait && m_waiting.size() < kQueueLength)
      m_waiting.push_back(packet);
    else
      Answer(packet.id, packet.flow, verdict, refusal);
  }
  SendAnswers();
}

void AppVerdicts::Read(const nlmsghdr* packet, std::uint64_t since) {
  std::optional<std::uint32_t> id;
  std::span<const std::uint8_t> payload;
  std::uint32_t interface = 0;
  const char* end = static_cast<const char*>(mnl_nlmsg_get_payload_tail(packet));
  for (auto* attribute = static_cast<const nlattr*>(mnl_nlmsg_get_payload_offset(packet, sizeof(nfgenmsg)));
       mnl_attr_ok(attribute, static_cast<int>(end - reinterpret_cast<const char*>(attribute)));
       attribute = mnl_attr_next(attribute)) {
    const std::uint16_t length = mnl_attr_get_payload_len(attribute);
    const auto* data = static_cast<const std::uint8_t*>(mnl_attr_get_payload(attribute));
    switch (mnl_attr_get_type(attribute)) {
      case NFQA_PACKET_HDR:
        if (length >= sizeof(nfqnl_msg_packet_hdr)) {
          nfqnl_msg_packet_hdr header;
          std::memcpy(&header, data, sizeof header);
          id = ntohl(header.packet_id);
        }
        break;
      case NFQA_PAYLOAD: payload = {data, length}; break;
      case NFQA_IFINDEX_INDEV:
        if (length >= sizeof interface) {
          std::memcpy(&interface, data, sizeof interface);
          interface = ntohl(interface);
        }
        break;
      default: break;
    }
  }
  if (!id) return;
  if (const std::optional<InboundFlow> flow = ReadInboundFlow(payload))
    m_round.push_back({*id, *flow, interface, since});
  else
    Put(*id, false);
}

void AppVerdicts::AnswerWaiting() {
  Acknowledge();
  NewRound();
  for (std::size_t count = m_waiting.size(); count > 0; --count) {
    Waiting waiting = m_waiting.front();
    m_waiting.pop_front();
    Refusal refusal;
    const Verdict verdict = Settle(waiting.flow, waiting.interface, waiting.since, &refusal);
    if (verdict == Verdict::kWait && ++waiting.rounds < kMostRounds)
      m_waiting.push_back(waiting);
    else
      Answer(waiting.id, waiting.flow, verdict, refusal);
  }
  SendAnswers();
}

void AppVerdicts::Answer(std::uint32_t id, const InboundFlow& flow, Verdict verdict, const Refusal& refusal) {
  const bool accept = verdict == Verdict::kAccept;
  Put(id, accept);
  if (!accept && refusal.known && m_report) m_report(flow, refusal.listening, refusal.pid, refusal.owner);
}

void AppVerdicts::Put(std::uint32_t id, bool accept) {
  if (m_answered + kAnswerSize > m_answers.size()) SendAnswers();
  nlmsghdr* answer = PutQueueMessage(m_answers.data() + m_answered, NFQNL_MSG_VERDICT, 0);
  const nfqnl_msg_verdict_hdr verdict{htonl(accept ? NF_ACCEPT : NF_DROP), htonl(id)};
  mnl_attr_put(answer, NFQA_VERDICT_HDR, sizeof verdict, &verdict);
  m_answered += answer->nlmsg_len;
}

void AppVerdicts::SendAnswers() {
  // Many answers travel in one datagram; the kernel takes each message in turn.
  if (m_answered > 0) mnl_socket_sendto(m_queue, m_answers.data(), m_answered);
  m_answered = 0;
}
