// Finding the socket that would receive a flow, and the processes that hold it, on this
// machine's loopback (no privilege needed).
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <climits>
#include <filesystem>
#include <thread>

#include "firewall/service/socket_owner.h"

namespace {

std::uint64_t Inode(int fd) {
  struct stat status;
  return fstat(fd, &status) == 0 ? status.st_ino : 0;
}

// A socket of `type` bound to `address` and `port` (0: any free port), listening if TCP,
// sharing its port with others that ask the same.
int Bound(int type, const char* address, std::uint16_t port) {
  const bool v6 = std::string_view(address).find(':') != std::string_view::npos;
  const int fd = socket(v6 ? AF_INET6 : AF_INET, type | SOCK_CLOEXEC, 0);
  const int yes = 1;
  setsockopt(fd, SOL_SOCKET, SO_REUSEPORT, &yes, sizeof yes);
  sockaddr_storage at{};
  socklen_t size;
  if (v6) {
    auto* in = reinterpret_cast<sockaddr_in6*>(&at);
    in->sin6_family = AF_INET6;
    in->sin6_port = htons(port);
    inet_pton(AF_INET6, address, &in->sin6_addr);
    size = sizeof *in;
  } else {
    auto* in = reinterpret_cast<sockaddr_in*>(&at);
    in->sin_family = AF_INET;
    in->sin_port = htons(port);
    inet_pton(AF_INET, address, &in->sin_addr);
    size = sizeof *in;
  }
  if (bind(fd, reinterpret_cast<sockaddr*>(&at), size) != 0 || (type == SOCK_STREAM && listen(fd, 4) != 0)) {
    close(fd);
    return -1;
  }
  return fd;
}

std::uint16_t PortOf(int fd) {
  sockaddr_storage at{};
  socklen_t size = sizeof at;
  getsockname(fd, reinterpret_cast<sockaddr*>(&at), &size);
  return ntohs(reinterpret_cast<sockaddr_in*>(&at)->sin_port);  // the port lies alike in both families
}

InboundFlow Flow(std::uint8_t protocol, const char* local, std::uint16_t port) {
  InboundFlow flow;
  const bool v6 = std::string_view(local).find(':') != std::string_view::npos;
  flow.family = v6 ? AF_INET6 : AF_INET;
  flow.protocol = protocol;
  inet_pton(flow.family, local, flow.localAddress.data());
  inet_pton(flow.family, v6 ? "::1" : "127.0.0.9", flow.remoteAddress.data());
  flow.localPort = port;
  flow.remotePort = 40000;
  return flow;
}

TEST(SocketOwnerTest, TheSocketOnTheExactAddressIsChosenBeforeTheWildcard) {
  SocketOwner owner;
  ASSERT_TRUE(owner.Ready());
  for (const int type : {SOCK_STREAM, SOCK_DGRAM}) {
    SCOPED_TRACE(type == SOCK_STREAM ? "TCP" : "UDP");
    const std::uint8_t protocol = type == SOCK_STREAM ? IPPROTO_TCP : IPPROTO_UDP;
    const int wildcard = Bound(type, "0.0.0.0", 0);
    ASSERT_GE(wildcard, 0);
    const std::uint16_t port = PortOf(wildcard);
    const int exact = Bound(type, "127.0.0.1", port);
    ASSERT_GE(exact, 0);
    EXPECT_EQ(owner.ReceivingSocket(Flow(protocol, "127.0.0.1", port)), Inode(exact));
    EXPECT_EQ(owner.ReceivingSocket(Flow(protocol, "127.0.0.2", port)), Inode(wildcard));
    close(exact);
    close(wildcard);
    EXPECT_EQ(owner.ReceivingSocket(Flow(protocol, "127.0.0.1", port)), 0u);

    const int v6 = Bound(type, "::1", 0);
    if (v6 < 0) continue;  // no IPv6 loopback here
    EXPECT_EQ(owner.ReceivingSocket(Flow(protocol, "::1", PortOf(v6))), Inode(v6));
    close(v6);
  }
}

TEST(SocketOwnerTest, HoldersAreCheckedBeforeUseAndLookedForAgainAtMostOnceASecond) {
  SocketOwner owner;
  const int fd = Bound(SOCK_STREAM, "127.0.0.1", 0);
  ASSERT_GE(fd, 0);
  const std::uint64_t inode = owner.ReceivingSocket(Flow(IPPROTO_TCP, "127.0.0.1", PortOf(fd)));
  ASSERT_EQ(inode, Inode(fd));
  const auto holders = [&] {
    std::vector<pid_t> found;
    owner.AnyHolder(inode, [&](pid_t pid) {
      found.push_back(pid);
      return false;
    });
    return found;
  };
  EXPECT_EQ(holders(), std::vector<pid_t>{getpid()});

  // A child takes the socket over: the remembered descriptor no longer holds it.
  const pid_t child = fork();
  if (child == 0) {
    pause();
    _exit(0);
  }
  close(fd);
  EXPECT_EQ(holders(), std::vector<pid_t>{});
  EXPECT_FALSE(owner.LookAgain(inode));  // looked just now
  std::this_thread::sleep_for(std::chrono::milliseconds(1100));
  EXPECT_TRUE(owner.LookAgain(inode));
  EXPECT_EQ(holders(), std::vector<pid_t>{child});
  kill(child, SIGKILL);
  waitpid(child, nullptr, 0);
  EXPECT_EQ(holders(), std::vector<pid_t>{});
}

TEST(SocketOwnerTest, TheExecutableIsNamedAsTheKernelNamesIt) {
  char buffer[PATH_MAX];
  EXPECT_EQ(ExecutablePath(getpid(), buffer), std::filesystem::canonical("/proc/self/exe").string());
  EXPECT_EQ(ExecutablePath(getpid(), std::span(buffer).first(4)), "");  // does not fit
  EXPECT_EQ(ExecutablePath(-1, buffer), "");
}

}  // namespace
