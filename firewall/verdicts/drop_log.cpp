#include "firewall/verdicts/drop_log.h"

#include <libmnl/libmnl.h>
#include <limits.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>
// After netinet/in.h, which these kernel headers defer to.
#include <linux/netfilter/nfnetlink.h>
#include <linux/netfilter/nfnetlink_log.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <optional>

#include "firewall/verdicts/nfnetlink_message.h"

namespace {

// Enough of a packet for its IPv6 extension headers and its ports.
constexpr std::uint32_t kCopiedBytes = 256;
// Back to poll after this many reads, so that a flood cannot keep the thread from its end.
constexpr std::size_t kReadsPerRound = 256;
// Flows waiting for their holders, and refusals waiting to be recorded; more are forgotten.
constexpr std::size_t kMostPending = 256;
// How many scans a flow waits through before it is recorded without its program: as the
// verdicts wait.
constexpr int kMostRounds = 6;

Status Unreadable(const std::string& why) { return Failed("the record of dropped flows: " + why); }

void Wake(int eventFd) {
  const std::uint64_t one = 1;
  while (write(eventFd, &one, sizeof one) < 0 && errno == EINTR) {
  }
}

void Drain(int eventFd) {
  std::uint64_t count;
  while (read(eventFd, &count, sizeof count) < 0 && errno == EINTR) {
  }
}

}  // namespace

DropLog::DropLog(BlockedFlows& blocked, const std::string& proc)
    : m_blocked(blocked),
      m_proc(proc),
      m_systemRoot(SystemRoot(proc)),
      m_holders(proc),
      m_stop(eventfd(0, EFD_CLOEXEC)),
      m_refused(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)),
      m_received(MNL_SOCKET_BUFFER_SIZE) {}

DropLog::~DropLog() {
  if (m_thread.joinable()) {
    Wake(m_stop);
    m_thread.join();
  }
  if (m_group) mnl_socket_close(m_group);
  if (m_stop >= 0) close(m_stop);
  if (m_refused >= 0) close(m_refused);
}

Status DropLog::Serve() {
  if (m_thread.joinable()) return {};
  if (!m_owner.Ready()) return Unreadable("the kernel's socket diagnostics (NETLINK_SOCK_DIAG) cannot be asked");
  if (m_stop < 0 || m_refused < 0) return Unreadable("no event descriptors to wait on");
  // Without the group the verdicts' refusals are still recorded.
  const Status bound = Bind();
  // Signals stay with the threads that expect them.
  sigset_t all, before;
  sigfillset(&all);
  pthread_sigmask(SIG_BLOCK, &all, &before);
  m_thread = std::thread(&DropLog::Run, this);
  pthread_sigmask(SIG_SETMASK, &before, nullptr);
  return bound;
}

Status DropLog::Bind() {
  // A full socket loses copies rather than failing the reads: they are only copies.
  m_group = OpenNetfilterSocket();
  if (!m_group) return Unreadable(std::string("netfilter's netlink: ") + std::strerror(errno));

  alignas(nlmsghdr) char request[256];
  nlmsghdr* config =
      PutNfnetlinkMessage(request, NFNL_SUBSYS_ULOG << 8 | NFULNL_MSG_CONFIG, NLM_F_ACK, AF_UNSPEC, kDropLogGroup);
  const nfulnl_msg_config_cmd bind{NFULNL_CFG_CMD_BIND};
  mnl_attr_put(config, NFULA_CFG_CMD, sizeof bind, &bind);
  const nfulnl_msg_config_mode mode{htonl(kCopiedBytes), NFULNL_COPY_PACKET, 0};
  mnl_attr_put(config, NFULA_CFG_MODE, sizeof mode, &mode);
  // Each copy is sent at once: the rate limit keeps them few.
  mnl_attr_put_u32(config, NFULA_CFG_QTHRESH, htonl(1));
  const int error = Configure(m_group, config, m_received);
  if (error == 0) return {};
  mnl_socket_close(m_group);
  m_group = nullptr;
  return Unreadable(BindRefusal(error, "NFLOG group " + std::to_string(kDropLogGroup)));
}

void DropLog::Refused(const InboundFlow& flow, bool listening, pid_t pid, uid_t owner) {
  {
    const std::lock_guard lock(m_refusalsMutex);
    // A flood of refusals would otherwise cost the thread a record each, as fast as the
    // verdicts go.
    const auto now = std::chrono::steady_clock::now();
    m_refusalsAllowed = std::min<double>(
        kDropLogBurst, m_refusalsAllowed + std::chrono::duration<double>(now - m_allowedAt).count() * kDropLogRate);
    m_allowedAt = now;
    if (m_refusalsAllowed < 1 || m_refusals.size() >= kMostPending) return;
    m_refusalsAllowed -= 1;
    m_refusals.push_back({flow, {listening, "", pid, owner}});
    // The thread takes all that wait once woken.
    if (m_refusals.size() > 1) return;
  }
  Wake(m_refused);
}

void DropLog::Run() {
  // Without the group, poll passes over its place.
  pollfd waiting[4] = {{m_group ? mnl_socket_get_fd(m_group) : -1, POLLIN, 0},
                       {m_stop, POLLIN, 0},
                       {m_holders.Published(), POLLIN, 0},
                       {m_refused, POLLIN, 0}};
  for (;;) {
    if (poll(waiting, 4, -1) < 0) continue;
    if (waiting[1].revents) return;
    if (waiting[2].revents) RecordPending();
    if (waiting[3].revents) RecordRefusals();
    if (waiting[0].revents) ReadCopies();
  }
}

void DropLog::ReadCopies() {
  const int fd = mnl_socket_get_fd(m_group);
  const std::uint64_t since = m_holders.Generation();
  m_owner.Forget();
  for (std::size_t reads = 0; reads < kReadsPerRound; ++reads) {
    const ssize_t size = recv(fd, m_received.data(), m_received.size(), MSG_DONTWAIT);
    if (size < 0) break;
    auto* message = reinterpret_cast<nlmsghdr*>(m_received.data());
    for (int left = static_cast<int>(size); mnl_nlmsg_ok(message, left); message = mnl_nlmsg_next(message, &left))
      if (message->nlmsg_type == (NFNL_SUBSYS_ULOG << 8 | NFULNL_MSG_PACKET)) Read(message, since);
  }
}

void DropLog::Read(const nlmsghdr* message, std::uint64_t since) {
  std::span<const std::uint8_t> payload;
  std::uint32_t interface = 0;
  const char* end = static_cast<const char*>(mnl_nlmsg_get_payload_tail(message));
  for (auto* attribute = static_cast<const nlattr*>(mnl_nlmsg_get_payload_offset(message, sizeof(nfgenmsg)));
       mnl_attr_ok(attribute, static_cast<int>(end - reinterpret_cast<const char*>(attribute)));
       attribute = mnl_attr_next(attribute)) {
    const std::uint16_t length = mnl_attr_get_payload_len(attribute);
    const auto* data = static_cast<const std::uint8_t*>(mnl_attr_get_payload(attribute));
    if (mnl_attr_get_type(attribute) == NFULA_PAYLOAD) payload = {data, length};
    if (mnl_attr_get_type(attribute) == NFULA_IFINDEX_INDEV && length >= sizeof interface) {
      std::memcpy(&interface, data, sizeof interface);
      interface = ntohl(interface);
    }
  }
  const std::optional<InboundFlow> flow = ReadInboundFlow(payload);
  if (!flow) return;
  const Pending pending{*flow, interface, since};
  if (!Settle(pending, false) && m_pending.size() < kMostPending) m_pending.push_back(pending);
}

bool DropLog::Settle(const Pending& pending, bool last) {
  const std::optional<std::vector<ReceivingSocket>> sockets = m_owner.ReceivingSockets(pending.flow, pending.interface);
  if (!sockets) return true;  // the kernel could not be asked: nothing to tell
  if (sockets->empty()) {
    Record(pending.flow, {});
    return true;
  }
  // The socket the kernel would try first.
  const ReceivingSocket& socket = sockets->front();
  const std::optional<SocketHolders::Found> holders = m_holders.Holders(socket, pending.since);
  if (holders && !holders->pids.empty()) {
    Record(pending.flow, {true, "", holders->pids.front(), socket.owner});
    return true;
  }
  if (last || (holders && holders->everywhere)) {
    Record(pending.flow, {true, "", 0, socket.owner});
    return true;
  }
  // Only the service manager, or no one, among the processes of its user and root's.
  if (holders) m_holders.LookEverywhere(socket);
  return false;
}

void DropLog::RecordPending() {
  m_holders.Acknowledge();
  m_owner.Forget();
  for (std::size_t count = m_pending.size(); count > 0; --count) {
    Pending pending = m_pending.front();
    m_pending.pop_front();
    ++pending.rounds;
    if (!Settle(pending, pending.rounds >= kMostRounds)) m_pending.push_back(pending);
  }
}

void DropLog::RecordRefusals() {
  Drain(m_refused);
  std::vector<Refusal> refusals;
  {
    const std::lock_guard lock(m_refusalsMutex);
    refusals.swap(m_refusals);
  }
  for (const Refusal& refusal : refusals) Record(refusal.flow, refusal.holder);
}

void DropLog::Record(const InboundFlow& flow, BlockedHolder holder) {
  if (holder.pid != 0) {
    // The process may have left since: then its socket's owner stands, the program unknown.
    const std::string process = m_proc + "/" + std::to_string(holder.pid);
    char path[PATH_MAX];
    const ssize_t size = readlink((process + "/exe").c_str(), path, sizeof path);
    struct stat status, running;
    if (size > 0 && stat(process.c_str(), &status) == 0) {
      holder.program.assign(path, static_cast<std::size_t>(size));
      holder.uid = status.st_uid;
      // The kernel names a file mounted over a path in another mount namespace by that path:
      // a program is told by its path only where the path leads to its file as the system
      // sees it, else it is unknown.
      if (stat((process + "/exe").c_str(), &running) != 0 ||
          !AuthorizedPaths({holder.program}, m_systemRoot).Matches({running.st_dev, running.st_ino}))
        holder.program.clear();
    } else {
      holder.pid = 0;
    }
  }
  m_blocked.Record(flow, holder);
}
