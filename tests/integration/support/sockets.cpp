#include "tests/integration/support/sockets.h"

#include <arpa/inet.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>
#include <vector>

#include "tests/integration/support/netns.h"
#include "tools/packet_builder.h"

Fd::~Fd() {
  if (fd >= 0) close(fd);
}

sockaddr_in Address(const char* ip, int port) {
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<std::uint16_t>(port));
  inet_pton(AF_INET, ip, &address.sin_addr);
  return address;
}

bool Readable(int fd) {
  pollfd waiting{fd, POLLIN, 0};
  return poll(&waiting, 1, kProbeTimeoutMs) == 1;
}

namespace {

// The socket address of `ip` (IPv4 or IPv6) and `port`, and its size.
socklen_t SocketAddress(const char* ip, int port, sockaddr_storage* to) {
  *to = {};
  if (!std::strchr(ip, ':')) {
    *reinterpret_cast<sockaddr_in*>(to) = Address(ip, port);
    return sizeof(sockaddr_in);
  }
  auto* v6 = reinterpret_cast<sockaddr_in6*>(to);
  v6->sin6_family = AF_INET6;
  v6->sin6_port = htons(static_cast<std::uint16_t>(port));
  inet_pton(AF_INET6, ip, &v6->sin6_addr);
  return sizeof *v6;
}

}  // namespace

bool UdpAnswered(const char* ip, int port) {
  sockaddr_storage to;
  const socklen_t size = SocketAddress(ip, port, &to);
  // Not connected: a server on several addresses may answer from another one.
  const Fd fd(socket(to.ss_family, SOCK_DGRAM | SOCK_CLOEXEC, 0));
  char reply[16];
  return sendto(fd.fd, "probe", 5, 0, reinterpret_cast<const sockaddr*>(&to), size) == 5 && Readable(fd.fd) &&
         recv(fd.fd, reply, sizeof reply, 0) == 5;
}

int ConnectTcp(const char* ip, int port, int timeoutMs) {
  sockaddr_storage to;
  const socklen_t length = SocketAddress(ip, port, &to);
  const int fd = socket(to.ss_family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  connect(fd, reinterpret_cast<const sockaddr*>(&to), length);
  pollfd waiting{fd, POLLOUT, 0};
  int error = -1;
  socklen_t size = sizeof error;
  if (poll(&waiting, 1, timeoutMs) == 1) getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &size);
  if (error == 0) return fd;
  close(fd);
  return -1;
}

int TcpServer(int port) {
  const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  const int yes = 1;
  setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
  const sockaddr_in at = Address("0.0.0.0", port);
  bind(fd, reinterpret_cast<const sockaddr*>(&at), sizeof at);
  listen(fd, 64);
  return fd;
}

int UdpServer(int port) {
  const int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  const sockaddr_in at = Address("0.0.0.0", port);
  bind(fd, reinterpret_cast<const sockaddr*>(&at), sizeof at);
  return fd;
}

bool TcpFrom(const std::string& netns, const char* ip, int port, int timeoutMs) {
  const InNamespace inside(netns);
  return Fd(ConnectTcp(ip, port, timeoutMs)).fd >= 0;
}

bool SynFlood(const std::string& netns, const char* from, const char* to, int firstPort, int count) {
  const InNamespace inside(netns);
  const Fd raw(socket(AF_INET, SOCK_RAW | SOCK_CLOEXEC, IPPROTO_RAW));
  if (raw.fd < 0) return false;
  const sockaddr_in address = Address(to, 0);
  for (int i = 0; i < count; ++i) {
    const int port = 1024 + (firstPort - 1024 + i) % (65536 - 1024);
    const std::vector<std::uint8_t> syn =
        tools::TcpDatagram({from, to, static_cast<std::uint16_t>(10000 + i % 30000), static_cast<std::uint16_t>(port),
                            static_cast<std::uint32_t>(i), 0, tools::kSyn});
    if (sendto(raw.fd, syn.data(), syn.size(), 0, reinterpret_cast<const sockaddr*>(&address), sizeof address) !=
        static_cast<ssize_t>(syn.size()))
      return false;
  }
  return true;
}
