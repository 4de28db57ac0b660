// Finding the socket that would receive a flow, and the processes that hold it, on this
// machine's loopback (no privilege needed).
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
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
  const int fd = socket(AF_INET, type | SOCK_CLOEXEC, 0);
  const int yes = 1;
  setsockopt(fd, SOL_SOCKET, SO_REUSEPORT, &yes, sizeof yes);
  sockaddr_in at{};
  at.sin_family = AF_INET;
  at.sin_port = htons(port);
  inet_pton(AF_INET, address, &at.sin_addr);
  if (bind(fd, reinterpret_cast<sockaddr*>(&at), sizeof at) != 0 || (type == SOCK_STREAM && listen(fd, 4) != 0)) {
    close(fd);
    return -1;
  }
  return fd;
}

sockaddr_in Name(int fd, bool peer = false) {
  sockaddr_in at{};
  socklen_t size = sizeof at;
  (peer ? getpeername : getsockname)(fd, reinterpret_cast<sockaddr*>(&at), &size);
  return at;
}

InboundFlow Flow(std::uint8_t protocol, const char* local, std::uint16_t port, sockaddr_in remote = {}) {
  InboundFlow flow;
  flow.family = AF_INET;
  flow.protocol = protocol;
  inet_pton(AF_INET, local, flow.localAddress.data());
  std::memcpy(flow.remoteAddress.data(), &remote.sin_addr, 4);
  flow.localPort = port;
  flow.remotePort = ntohs(remote.sin_port);
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
    const std::uint16_t port = ntohs(Name(wildcard).sin_port);
    const int exact = Bound(type, "127.0.0.1", port);
    ASSERT_GE(exact, 0);
    EXPECT_EQ(owner.ReceivingSocket(Flow(protocol, "127.0.0.1", port)), Inode(exact));
    EXPECT_EQ(owner.ReceivingSocket(Flow(protocol, "127.0.0.2", port)), Inode(wildcard));
    close(exact);
    close(wildcard);
    EXPECT_EQ(owner.ReceivingSocket(Flow(protocol, "127.0.0.1", port)), 0u);
  }
}

TEST(SocketOwnerTest, ASynThatNamesAConnectionStillOpensOneOnTheListener) {
  // A SYN retransmitted while its connection is being accepted, or one that reuses the four
  // parts of a connection, names that connection first; the kernel opens a new one on the
  // listener.
  SocketOwner owner;
  const int listener = Bound(SOCK_STREAM, "127.0.0.1", 0);
  ASSERT_GE(listener, 0);
  const sockaddr_in at = Name(listener);
  const int client = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  ASSERT_EQ(connect(client, reinterpret_cast<const sockaddr*>(&at), sizeof at), 0);
  const InboundFlow flow = Flow(IPPROTO_TCP, "127.0.0.1", ntohs(at.sin_port), Name(client));
  EXPECT_EQ(owner.ReceivingSocket(flow), Inode(listener));
  const int accepted = accept(listener, nullptr, nullptr);
  EXPECT_EQ(owner.ReceivingSocket(flow), Inode(listener));
  close(accepted);
  close(client);
  close(listener);
}

TEST(SocketOwnerTest, HoldersAreCheckedBeforeUseAndLookedForAgainAtMostOnceASecond) {
  SocketOwner owner;
  const int fd = Bound(SOCK_STREAM, "127.0.0.1", 0);
  ASSERT_GE(fd, 0);
  const std::uint64_t inode = owner.ReceivingSocket(Flow(IPPROTO_TCP, "127.0.0.1", ntohs(Name(fd).sin_port)));
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

}  // namespace
