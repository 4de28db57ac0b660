#include "tests/integration/support/sockets.h"

#include <arpa/inet.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

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

int ConnectTcp(const char* ip, int port) {
  const int fd = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  const sockaddr_in to = Address(ip, port);
  connect(fd, reinterpret_cast<const sockaddr*>(&to), sizeof to);
  pollfd waiting{fd, POLLOUT, 0};
  int error = -1;
  socklen_t size = sizeof error;
  if (poll(&waiting, 1, kProbeTimeoutMs) == 1) getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &size);
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
