// Finding the sockets that may receive a flow, and the processes that hold them, on this
// machine's loopback (no privilege needed).
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/prctl.h>
#include <sys/ptrace.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <cstring>

#include "firewall/verdicts/socket_holders.h"
#include "firewall/verdicts/socket_owner.h"

namespace {

std::uint64_t Inode(int fd) {
  struct stat status;
  return fstat(fd, &status) == 0 ? status.st_ino : 0;
}

std::vector<ReceivingSocket> ByInode(std::vector<ReceivingSocket> sockets) {
  std::sort(sockets.begin(), sockets.end(), [](auto& a, auto& b) { return a.inode < b.inode; });
  return sockets;
}

std::vector<ReceivingSocket> Sockets(std::initializer_list<int> fds) {
  std::vector<ReceivingSocket> sockets;
  for (const int fd : fds) sockets.push_back({Inode(fd), getuid()});
  return ByInode(sockets);
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
  // Asked afresh each time, as a new round of packets does.
  const auto Fresh = [](SocketOwner& owner, const InboundFlow& flow) {
    owner.Forget();
    return owner.ReceivingSockets(flow);
  };
  for (const int type : {SOCK_STREAM, SOCK_DGRAM}) {
    SCOPED_TRACE(type == SOCK_STREAM ? "TCP" : "UDP");
    const std::uint8_t protocol = type == SOCK_STREAM ? IPPROTO_TCP : IPPROTO_UDP;
    const int wildcard = Bound(type, "0.0.0.0", 0);
    ASSERT_GE(wildcard, 0);
    const std::uint16_t port = ntohs(Name(wildcard).sin_port);
    const int exact = Bound(type, "127.0.0.1", port);
    ASSERT_GE(exact, 0);
    EXPECT_EQ(Fresh(owner, Flow(protocol, "127.0.0.1", port)), Sockets({exact}));
    EXPECT_EQ(Fresh(owner, Flow(protocol, "127.0.0.2", port)), Sockets({wildcard}));
    // A group sharing the port: a BPF program may hand the flow to any of them.
    const int second = Bound(type, "127.0.0.1", port);
    ASSERT_GE(second, 0);
    EXPECT_EQ(ByInode(Fresh(owner, Flow(protocol, "127.0.0.1", port)).value()), Sockets({exact, second}));
    close(second);
    close(exact);
    close(wildcard);
    EXPECT_EQ(Fresh(owner, Flow(protocol, "127.0.0.1", port)), Sockets({}));
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
  EXPECT_EQ(owner.ReceivingSockets(flow), Sockets({listener}));
  const int accepted = accept(listener, nullptr, nullptr);
  EXPECT_EQ(owner.ReceivingSockets(flow), Sockets({listener}));
  close(accepted);
  close(client);
  close(listener);
}

// The holders of `socket` once they are published, for a question asked after scan `since`
// began; nothing when none is published within seconds.
std::optional<std::vector<pid_t>> Pids(const std::optional<SocketHolders::Found>& found) {
  return found ? std::optional(found->pids) : std::nullopt;
}

std::optional<std::vector<pid_t>> Published(SocketHolders& holders, const ReceivingSocket& socket,
                                            std::uint64_t since) {
  for (int round = 0; round < 3; ++round) {
    if (auto found = holders.Holders(socket, since)) return found->pids;
    pollfd published{holders.Published(), POLLIN, 0};
    if (poll(&published, 1, 5000) != 1) break;
    holders.Acknowledge();
  }
  return std::nullopt;
}

TEST(SocketOwnerTest, HoldersAreFoundApartCheckedBeforeUseAndLookedForAgainWhenAllLeft) {
  SocketOwner owner;
  SocketHolders holders;
  const int fd = Bound(SOCK_STREAM, "127.0.0.1", 0);
  ASSERT_GE(fd, 0);
  const auto sockets = owner.ReceivingSockets(Flow(IPPROTO_TCP, "127.0.0.1", ntohs(Name(fd).sin_port)));
  ASSERT_EQ(sockets, Sockets({fd}));
  const ReceivingSocket socket = sockets->front();
  EXPECT_EQ(Pids(holders.Holders(socket, holders.Generation())), std::nullopt);  // asked for, not known yet
  EXPECT_EQ(Published(holders, socket, 0), std::vector<pid_t>{getpid()});

  // A child takes the socket over: the remembered holder no longer holds it, and the
  // holders are looked for again for a question asked after they were found.
  const pid_t child = fork();
  if (child == 0) {
    pause();
    _exit(0);
  }
  close(fd);
  EXPECT_EQ(Pids(holders.Holders(socket, 0)), std::vector<pid_t>{});
  EXPECT_EQ(Published(holders, socket, holders.Generation()), std::vector<pid_t>{child});
  kill(child, SIGKILL);
  waitpid(child, nullptr, 0);
  EXPECT_EQ(Pids(holders.Holders(socket, 0)), std::vector<pid_t>{});
}

// A holders' finder, and a TCP socket of this process's on loopback.
class SocketHoldersTest : public ::testing::Test {
 protected:
  void SetUp() override {
    fd = Bound(SOCK_STREAM, "127.0.0.1", 0);
    ASSERT_GE(fd, 0);
    socket = {Inode(fd), 0};
  }

  SocketHolders holders;
  int fd = -1;
  ReceivingSocket socket;
};

TEST_F(SocketHoldersTest, ASocketIsLookedForAmongItsUsersProcessesUnlessAskedToLookEverywhere) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root to hand a socket to another user";
  int ready[2];
  ASSERT_EQ(pipe(ready), 0);
  // Handed to a process of another user that may be looked into, as a service started by
  // socket activation is; root's own copy closed.
  const pid_t child = fork();
  if (child == 0) {
    if (setresgid(65534, 65534, 65534) != 0 || setresuid(65534, 65534, 65534) != 0) _exit(1);
    prctl(PR_SET_DUMPABLE, 1);
    write(ready[1], "r", 1);
    pause();
    _exit(0);
  }
  char said;
  ASSERT_EQ(read(ready[0], &said, 1), 1);
  close(fd);
  EXPECT_EQ(Published(holders, socket, 0), std::vector<pid_t>{});
  EXPECT_FALSE(holders.Holders(socket, 0)->everywhere);
  holders.Acknowledge();
  holders.LookEverywhere(socket);
  pollfd published{holders.Published(), POLLIN, 0};
  ASSERT_EQ(poll(&published, 1, 5000), 1);
  EXPECT_EQ(Pids(holders.Holders(socket, 0)), std::vector<pid_t>{child});
  EXPECT_TRUE(holders.Holders(socket, 0)->everywhere);
  kill(child, SIGKILL);
  waitpid(child, nullptr, 0);
}

TEST(SocketOwnerTest, AProcessRunsItsFileUntilTheFileIsGoneAndATracedOneIsTold) {
  SocketHolders holders;
  struct stat self;
  ASSERT_EQ(stat("/proc/self/exe", &self), 0);
  EXPECT_EQ(holders.Executable(getpid()), (FileId{self.st_dev, self.st_ino}));
  EXPECT_FALSE(holders.Traced(getpid()));
  // A child that asks to be traced stops at its exec, and stays stopped.
  const pid_t child = fork();
  if (child == 0) {
    ptrace(PTRACE_TRACEME, 0, nullptr, nullptr);
    execl("/bin/sleep", "sleep", "30", nullptr);
    _exit(127);
  }
  ASSERT_GT(child, 0);
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, WUNTRACED), child);
  EXPECT_TRUE(holders.Traced(child));
  kill(child, SIGKILL);
  waitpid(child, nullptr, 0);
  EXPECT_EQ(holders.Executable(child), std::nullopt);
  EXPECT_TRUE(holders.Traced(child));  // gone: nothing to trust
}

TEST_F(SocketHoldersTest, NoUserCanMakeTheHoldersOfAnothersSocketsBeForgotten) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root to make sockets of another user";
  ASSERT_EQ(Published(holders, socket, 0), std::vector<pid_t>{getpid()});
  // Another user's sockets, more than are remembered for one user, each asked about.
  int inodes[2];
  ASSERT_EQ(pipe(inodes), 0);
  constexpr int kMany = 5000;
  const pid_t child = fork();
  if (child == 0) {
    const rlimit room{kMany + 64, kMany + 64};
    if (setrlimit(RLIMIT_NOFILE, &room) != 0 || setresuid(65534, 65534, 65534) != 0) _exit(1);
    for (int i = 0; i < kMany; ++i) {
      const std::uint64_t inode = Inode(::socket(AF_INET, SOCK_DGRAM, 0));
      write(inodes[1], &inode, sizeof inode);
    }
    pause();
    _exit(0);
  }
  close(inodes[1]);
  std::vector<ReceivingSocket> theirs;
  for (std::uint64_t inode; theirs.size() < kMany && read(inodes[0], &inode, sizeof inode) == sizeof inode;)
    theirs.push_back({inode, 65534});
  ASSERT_EQ(theirs.size(), std::size_t{kMany});
  for (const ReceivingSocket& other : theirs) holders.Holders(other, 0);
  EXPECT_EQ(Published(holders, theirs.back(), 0), std::vector<pid_t>{child});
  EXPECT_EQ(Pids(holders.Holders(socket, 0)), std::vector<pid_t>{getpid()});
  kill(child, SIGKILL);
  waitpid(child, nullptr, 0);
  close(fd);
}

}  // namespace
