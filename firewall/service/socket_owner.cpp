#include "firewall/service/socket_owner.h"

#include <dirent.h>
#include <fcntl.h>
#include <linux/inet_diag.h>
#include <linux/netlink.h>
#include <linux/sock_diag.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <charconv>
#include <concepts>
#include <cstring>

namespace {

// How many sockets' holders are remembered; past that the memory starts afresh.
constexpr std::size_t kMostRemembered = 4096;
constexpr auto kLookAgainAfter = std::chrono::seconds(1);

// A short text built without allocating: "/proc/", numbers, words.
class ShortText {
 public:
  ShortText& operator<<(std::string_view text) {
    const std::size_t room = sizeof m_text - 1 - m_size;
    const std::size_t count = text.size() < room ? text.size() : room;
    std::memcpy(m_text + m_size, text.data(), count);
    m_size += count;
    m_text[m_size] = '\0';
    return *this;
  }
  template <std::integral Number>
  ShortText& operator<<(Number number) {
    char digits[24];
    return *this << std::string_view(digits, std::to_chars(digits, digits + sizeof digits, number).ptr);
  }
  const char* c_str() const { return m_text; }
  std::string_view view() const { return {m_text, m_size}; }

 private:
  char m_text[64] = "";
  std::size_t m_size = 0;
};

ShortText SocketLink(std::uint64_t inode) { return ShortText() << "socket:[" << inode << "]"; }

// Whether link `name` (relative to `directory`, or absolute) reads as `expected`.
bool LinkReads(int directory, const char* name, std::string_view expected) {
  char target[64];
  const ssize_t size = readlinkat(directory, name, target, sizeof target);
  return size >= 0 && std::string_view(target, static_cast<std::size_t>(size)) == expected;
}

template <class Number>
bool ReadNumber(const char* text, Number* number) {
  const char* end = text + std::strlen(text);
  const auto [stop, error] = std::from_chars(text, end, *number);
  return error == std::errc() && stop == end && stop != text;
}

}  // namespace

SocketOwner::SocketOwner() : m_diag(socket(AF_NETLINK, SOCK_DGRAM | SOCK_CLOEXEC, NETLINK_SOCK_DIAG)) {}

SocketOwner::~SocketOwner() {
  if (m_diag >= 0) close(m_diag);
}

std::uint64_t SocketOwner::ReceivingSocket(const InboundFlow& flow, std::uint32_t interface) {
  std::uint8_t state = 0;
  const std::uint64_t inode = Query(flow, interface, true, &state);
  if (flow.protocol != IPPROTO_TCP || state == TCP_LISTEN) return inode;
  // The four parts of a SYN may still name an earlier connection (in TIME_WAIT) or the
  // request of a SYN sent before: the connection it asks for is the listener's.
  const std::uint64_t listener = Query(flow, interface, false, &state);
  return state == TCP_LISTEN ? listener : 0;
}

std::uint64_t SocketOwner::Query(const InboundFlow& flow, std::uint32_t interface, bool withRemote,
                                 std::uint8_t* state) {
  *state = 0;
  if (m_diag < 0) return 0;
  struct {
    nlmsghdr header;
    inet_diag_req_v2 body;
  } request{};
  request.header.nlmsg_len = sizeof request;
  request.header.nlmsg_type = SOCK_DIAG_BY_FAMILY;
  request.header.nlmsg_flags = NLM_F_REQUEST;
  request.header.nlmsg_seq = ++m_sequence;
  request.body.sdiag_family = static_cast<std::uint8_t>(flow.family);
  request.body.sdiag_protocol = flow.protocol;
  request.body.idiag_states = ~0u;
  inet_diag_sockid& id = request.body.id;
  const std::size_t size = flow.family == AF_INET6 ? 16 : 4;
  // TCP takes the local end as the source; UDP, for historical reasons, the remote end.
  const bool tcp = flow.protocol == IPPROTO_TCP;
  std::memcpy(tcp ? id.idiag_src : id.idiag_dst, flow.localAddress.data(), size);
  (tcp ? id.idiag_sport : id.idiag_dport) = htons(flow.localPort);
  if (withRemote) {
    std::memcpy(tcp ? id.idiag_dst : id.idiag_src, flow.remoteAddress.data(), size);
    (tcp ? id.idiag_dport : id.idiag_sport) = htons(flow.remotePort);
  }
  id.idiag_if = interface;
  id.idiag_cookie[0] = id.idiag_cookie[1] = INET_DIAG_NOCOOKIE;
  if (send(m_diag, &request, sizeof request, 0) != sizeof request) return 0;
  // The kernel answers while it takes the request: the reply is there, and an older one
  // left behind (none should be) is read past.
  alignas(nlmsghdr) char reply[4096];
  for (;;) {
    const ssize_t got = recv(m_diag, reply, sizeof reply, MSG_DONTWAIT);
    const auto* header = reinterpret_cast<const nlmsghdr*>(reply);
    if (got < 0 || !NLMSG_OK(header, static_cast<std::size_t>(got))) return 0;
    if (header->nlmsg_seq != request.header.nlmsg_seq) continue;
    if (header->nlmsg_type != SOCK_DIAG_BY_FAMILY || header->nlmsg_len < NLMSG_LENGTH(sizeof(inet_diag_msg))) return 0;
    const auto* found = static_cast<const inet_diag_msg*>(NLMSG_DATA(header));
    *state = found->idiag_state;
    return found->idiag_inode;
  }
}

bool SocketOwner::Holds(pid_t pid, int fd, std::uint64_t inode) {
  const ShortText name = ShortText() << "/proc/" << pid << "/fd/" << fd;
  return LinkReads(AT_FDCWD, name.c_str(), SocketLink(inode).view());
}

const std::vector<std::pair<pid_t, int>>& SocketOwner::Remembered(std::uint64_t inode) {
  const auto known = m_holdings.find(inode);
  return (known != m_holdings.end() ? known->second : Scan(inode)).descriptors;
}

bool SocketOwner::LookAgain(std::uint64_t inode) {
  const auto known = m_holdings.find(inode);
  if (known != m_holdings.end() && std::chrono::steady_clock::now() - known->second.lookedAt < kLookAgainAfter)
    return false;
  Scan(inode);
  return true;
}

SocketOwner::Holding& SocketOwner::Scan(std::uint64_t inode) {
  if (m_holdings.size() >= kMostRemembered && !m_holdings.count(inode)) m_holdings.clear();
  Holding& holding = m_holdings[inode];
  holding.descriptors.clear();
  holding.lookedAt = std::chrono::steady_clock::now();
  const ShortText wanted = SocketLink(inode);
  DIR* processes = opendir("/proc");
  if (!processes) return holding;
  while (const dirent* process = readdir(processes)) {
    pid_t pid;
    if (!ReadNumber(process->d_name, &pid)) continue;
    const ShortText name = ShortText() << "/proc/" << process->d_name << "/fd";
    const int directory = open(name.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (directory < 0) continue;
    DIR* descriptors = fdopendir(directory);
    if (!descriptors) {
      close(directory);
      continue;
    }
    while (const dirent* descriptor = readdir(descriptors)) {
      int fd;
      if (ReadNumber(descriptor->d_name, &fd) && LinkReads(directory, descriptor->d_name, wanted.view())) {
        holding.descriptors.emplace_back(pid, fd);
        break;
      }
    }
    closedir(descriptors);
  }
  closedir(processes);
  return holding;
}

std::string_view ExecutablePath(pid_t pid, std::span<char> buffer) {
  const ShortText name = ShortText() << "/proc/" << pid << "/exe";
  const ssize_t size = readlink(name.c_str(), buffer.data(), buffer.size());
  if (size <= 0 || static_cast<std::size_t>(size) >= buffer.size()) return {};
  return {buffer.data(), static_cast<std::size_t>(size)};
}
