// brenvo-echo ADDRESS PORT: sends back what it receives, over TCP and UDP, on ADDRESS and
// PORT (IPv4 or IPv6; "::" takes both). Says "ready" on standard output once both sockets
// are bound. The tests of authorized applications copy it to paths of their own: unlike an
// interpreter, it finds nothing relative to its own path.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

int Bound(int type, const sockaddr_storage& address, socklen_t size) {
  const int fd = socket(address.ss_family, type | SOCK_CLOEXEC, 0);
  const int yes = 1;
  setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
  // So that one copy may take an address and another the wildcard address, on one port.
  setsockopt(fd, SOL_SOCKET, SO_REUSEPORT, &yes, sizeof yes);
  if (fd < 0 || bind(fd, reinterpret_cast<const sockaddr*>(&address), size) != 0 ||
      (type == SOCK_STREAM && listen(fd, 128) != 0)) {
    std::perror("brenvo-echo");
    std::exit(1);
  }
  return fd;
}

}  // namespace

int main(int argc, char** argv) {
  sockaddr_storage address{};
  socklen_t size = 0;
  const int port = argc == 3 ? std::atoi(argv[2]) : 0;
  auto* v4 = reinterpret_cast<sockaddr_in*>(&address);
  auto* v6 = reinterpret_cast<sockaddr_in6*>(&address);
  if (port > 0 && port < 65536 && inet_pton(AF_INET, argv[1], &v4->sin_addr) == 1) {
    v4->sin_family = AF_INET;
    v4->sin_port = htons(static_cast<std::uint16_t>(port));
    size = sizeof *v4;
  } else if (port > 0 && port < 65536 && inet_pton(AF_INET6, argv[1], &v6->sin6_addr) == 1) {
    v6->sin6_family = AF_INET6;
    v6->sin6_port = htons(static_cast<std::uint16_t>(port));
    size = sizeof *v6;
  } else {
    std::fprintf(stderr, "Usage: brenvo-echo ADDRESS PORT\n");
    return 2;
  }
  std::vector<pollfd> watched = {{Bound(SOCK_STREAM, address, size), POLLIN, 0},
                                 {Bound(SOCK_DGRAM, address, size), POLLIN, 0}};
  std::printf("ready\n");
  std::fflush(stdout);
  char buffer[65536];
  for (;;) {
    if (poll(watched.data(), watched.size(), -1) < 0) continue;
    if (watched[0].revents & POLLIN) {
      const int connection = accept4(watched[0].fd, nullptr, nullptr, SOCK_CLOEXEC);
      if (connection >= 0) watched.push_back({connection, POLLIN, 0});
    }
    if (watched[1].revents & POLLIN) {
      sockaddr_storage from{};
      socklen_t fromSize = sizeof from;
      const ssize_t got =
          recvfrom(watched[1].fd, buffer, sizeof buffer, 0, reinterpret_cast<sockaddr*>(&from), &fromSize);
      if (got >= 0)
        sendto(watched[1].fd, buffer, static_cast<std::size_t>(got), 0, reinterpret_cast<sockaddr*>(&from), fromSize);
    }
    for (std::size_t i = 2; i < watched.size();) {
      if (!watched[i].revents) {
        ++i;
        continue;
      }
      const ssize_t got = read(watched[i].fd, buffer, sizeof buffer);
      if (got > 0 && write(watched[i].fd, buffer, static_cast<std::size_t>(got)) == got) {
        ++i;
        continue;
      }
      close(watched[i].fd);
      watched.erase(watched.begin() + static_cast<std::ptrdiff_t>(i));
    }
  }
}
