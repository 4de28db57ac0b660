// Authorized programs enforced in the kernel: copies of one echo server run from paths of
// the test's own in namespace A, one of them authorized, and a peer in namespace B finds out
// which of them answer. Needs root; skips with the reason where it cannot run.
#include <arpa/inet.h>
#include <fcntl.h>
#include <grp.h>
#include <gtest/gtest.h>
#include <linux/filter.h>
#include <poll.h>
#include <sched.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/prctl.h>
#include <sys/ptrace.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>

#include "firewall/verdicts/app_verdicts.h"
#include "firewall/verdicts/blocked_flows.h"
#include "tests/integration/app_verdicts/verdicts_world.h"

namespace {

namespace fs = std::filesystem;

std::u16string Wide(const std::string& text) { return std::u16string(text.begin(), text.end()); }

class AppVerdictsTest : public VerdictsWorld {
 protected:
  FW_ERROR_CODE Authorize(const std::string& path) { return m_firewall->AddApp(Wide(path).c_str(), u"echo"); }
  std::unique_ptr<EchoProcess> Serve(const std::string& path, const char* address, int port) {
    auto server = std::make_unique<EchoProcess>(path, address, port);
    EXPECT_TRUE(server->Serving()) << path << " on " << address << " port " << port;
    return server;
  }
  bool UdpFromB(const char* address, int port) {
    const InNamespace inB(m_netns->B());
    return UdpAnswered(address, port);
  }
  // How many of TCP and UDP, to IPv4 and IPv6, get through to `port`.
  int AnsweredFromB(int port) {
    const char* const v4 = NetnsPair::kAddressA;
    const char* const v6 = NetnsPair::kAddress6A;
    return TcpFromB(v4, port) + UdpFromB(v4, port) + TcpFromB(v6, port) + UdpFromB(v6, port);
  }
};

constexpr const char* kA = NetnsPair::kAddressA;
constexpr uid_t kNobody = 65534;

// A child process, killed and reaped with the object, that runs `body` and says it is ready
// by writing to the descriptor it is given (or by exec'ing a program that writes "ready").
class Child {
 public:
  template <class Body>
  explicit Child(Body body) {
    int ready[2];
    if (pipe2(ready, O_CLOEXEC) != 0) return;
    m_pid = fork();
    if (m_pid == 0) {
      close(ready[0]);
      body(ready[1]);
      _exit(0);
    }
    close(ready[1]);
    pollfd waiting{ready[0], POLLIN, 0};
    char said;
    m_ready = m_pid > 0 && poll(&waiting, 1, 5000) == 1 && read(ready[0], &said, 1) == 1;
    close(ready[0]);
  }
  ~Child() {
    if (m_pid <= 0) return;
    kill(m_pid, SIGKILL);
    waitpid(m_pid, nullptr, 0);
  }
  bool Ready() const { return m_ready; }

 private:
  pid_t m_pid = -1;
  bool m_ready = false;
};

// In a child: become the unprivileged user, to die with the test.
void BecomeNobody() {
  if (setgroups(0, nullptr) != 0 || setresgid(kNobody, kNobody, kNobody) != 0 ||
      setresuid(kNobody, kNobody, kNobody) != 0)
    _exit(126);
  // As a process the user started itself: its own to look into and change.
  prctl(PR_SET_DUMPABLE, 1);
  prctl(PR_SET_PDEATHSIG, SIGKILL);
}

// In a child: runs the echo server `path` on every address at `port`, saying it is ready on
// `ready`.
[[noreturn]] void ExecEcho(const std::string& path, int port, int ready) {
  const std::string portText = std::to_string(port);
  dup2(ready, STDOUT_FILENO);
  execl(path.c_str(), path.c_str(), "::", portText.c_str(), nullptr);
  _exit(127);
}

// The echo server at `path` on `port`, run as the unprivileged user.
std::unique_ptr<Child> ServeAsNobody(const std::string& path, int port) {
  return std::make_unique<Child>([&](int ready) {
    BecomeNobody();
    ExecEcho(path, port, ready);
  });
}

// A TCP listener and a bound UDP socket on every address at `port`, inherited by children;
// with `group`, joining the SO_REUSEPORT group there and taking every flow of it through a
// classic BPF program that picks the last socket to join.
std::pair<int, int> Sockets(int port, bool group = false) {
  int fds[2];
  for (const int type : {SOCK_STREAM, SOCK_DGRAM}) {
    const int fd = fds[type == SOCK_DGRAM] = socket(AF_INET6, type, 0);
    const int yes = 1;
    if (group) setsockopt(fd, SOL_SOCKET, SO_REUSEPORT, &yes, sizeof yes);
    sockaddr_in6 any{};
    any.sin6_family = AF_INET6;
    any.sin6_port = htons(static_cast<std::uint16_t>(port));
    if (bind(fd, reinterpret_cast<const sockaddr*>(&any), sizeof any) != 0) _exit(125);
    if (type == SOCK_STREAM) listen(fd, 16);
    sock_filter last[] = {{BPF_RET | BPF_K, 0, 0, 1}};
    const sock_fprog program{1, last};
    if (group && setsockopt(fd, SOL_SOCKET, SO_ATTACH_REUSEPORT_CBPF, &program, sizeof program) != 0) _exit(124);
  }
  return {fds[0], fds[1]};
}

// Accepts connections and echoes datagrams until killed.
[[noreturn]] void ServeUntilKilled(std::pair<int, int> sockets) {
  pollfd watched[2] = {{sockets.first, POLLIN, 0}, {sockets.second, POLLIN, 0}};
  for (;;) {
    poll(watched, 2, -1);
    if (watched[0].revents) close(accept(sockets.first, nullptr, nullptr));
    sockaddr_storage from;
    socklen_t size = sizeof from;
    char buffer[64];
    const ssize_t got =
        recvfrom(sockets.second, buffer, sizeof buffer, MSG_DONTWAIT, reinterpret_cast<sockaddr*>(&from), &size);
    if (got > 0)
      sendto(sockets.second, buffer, static_cast<std::size_t>(got), 0, reinterpret_cast<sockaddr*>(&from), size);
  }
}

TEST_F(AppVerdictsTest, OnlyTheAuthorizedCopyAnswersWhileItIsEnabled) {
  const auto authorized = Serve(Program("authorized"), "0.0.0.0", 7001);
  const auto other = Serve(Program("other"), "0.0.0.0", 7002);
  EXPECT_FALSE(TcpFromB(kA, 7001));
  ASSERT_EQ(Authorize(Program("authorized")), FW_OK);
  EXPECT_TRUE(TcpFromB(kA, 7001));
  EXPECT_TRUE(UdpFromB(kA, 7001));
  EXPECT_FALSE(TcpFromB(kA, 7002));
  EXPECT_FALSE(UdpFromB(kA, 7002));

  // Disabled: new connections are dropped, an accepted one carries on.
  Fd open(-1);
  {
    const InNamespace inB(m_netns->B());
    open.fd = ConnectTcp(kA, 7001);
  }
  ASSERT_GE(open.fd, 0);
  const std::u16string path = Wide(Program("authorized"));
  ASSERT_EQ(m_firewall->ToggleAppEnabled(path.c_str(), 1), FW_OK);
  EXPECT_FALSE(TcpFromB(kA, 7001));
  EXPECT_FALSE(UdpFromB(kA, 7001));
  char echoed[4] = {};
  ASSERT_EQ(send(open.fd, "abc", 3, 0), 3);
  EXPECT_TRUE(Readable(open.fd) && recv(open.fd, echoed, sizeof echoed, 0) == 3) << "the open connection stopped";

  ASSERT_EQ(m_firewall->ToggleAppEnabled(path.c_str(), 0), FW_OK);
  EXPECT_TRUE(TcpFromB(kA, 7001));
  ASSERT_EQ(m_firewall->RemoveApp(path.c_str()), FW_OK);
  EXPECT_FALSE(TcpFromB(kA, 7001));
  EXPECT_FALSE(UdpFromB(kA, 7001));
  ASSERT_EQ(Authorize(Program("authorized")), FW_OK);
  EXPECT_TRUE(TcpFromB(kA, 7001));

  // A port and a program each let a connection in.
  ASSERT_EQ(m_firewall->AddPort(7002, NET_FW_IP_PROTOCOL_TCP, u"other"), FW_OK);
  EXPECT_TRUE(TcpFromB(kA, 7002));
  EXPECT_TRUE(TcpFromB(kA, 7001));
  EXPECT_FALSE(UdpFromB(kA, 7002));
}

TEST_F(AppVerdictsTest, TheSocketBoundToTheAddressDecidesOverTheWildcardInIpv4AndIpv6) {
  ASSERT_EQ(Authorize(Program("authorized")), FW_OK);
  const auto exact4 = Serve(Program("authorized"), kA, 7003);
  const auto wildcard4 = Serve(Program("other"), "0.0.0.0", 7003);
  const auto exact6 = Serve(Program("authorized"), NetnsPair::kAddress6A, 7004);
  const auto wildcard6 = Serve(Program("other"), "::", 7004);
  EXPECT_TRUE(TcpFromB(kA, 7003));
  EXPECT_TRUE(UdpFromB(kA, 7003));
  EXPECT_FALSE(TcpFromB(NetnsPair::kSecondAddressA, 7003));
  EXPECT_FALSE(UdpFromB(NetnsPair::kSecondAddressA, 7003));
  EXPECT_TRUE(TcpFromB(NetnsPair::kAddress6A, 7004));
  EXPECT_TRUE(UdpFromB(NetnsPair::kAddress6A, 7004));
  EXPECT_FALSE(TcpFromB(NetnsPair::kSecondAddress6A, 7004));
  EXPECT_FALSE(UdpFromB(NetnsPair::kSecondAddress6A, 7004));

  // An IPv6 socket on "::" receives IPv4 too: its program answers on both.
  const auto dual = Serve(Program("authorized"), "::", 7005);
  EXPECT_TRUE(TcpFromB(NetnsPair::kSecondAddressA, 7005));
  EXPECT_TRUE(TcpFromB(NetnsPair::kSecondAddress6A, 7005));
  EXPECT_TRUE(UdpFromB(NetnsPair::kSecondAddressA, 7005));
}

TEST_F(AppVerdictsTest, AProgramAuthorizedThroughALinkIsMatchedByWhereTheLinkPoints) {
  // As the file dialog gives /usr/bin/python3, a link, for a program that runs as its target.
  const std::string link = m_dir.File("bin/echo");
  fs::create_directories(m_dir.File("bin"));
  fs::create_symlink("../authorized/echo", link);
  ASSERT_EQ(Authorize(link), FW_OK);
  const auto throughLink = Serve(link, kA, 7006);
  const auto other = Serve(Program("other"), kA, 7007);
  EXPECT_TRUE(TcpFromB(kA, 7006));
  EXPECT_FALSE(TcpFromB(kA, 7007));

  // The link made to point elsewhere (as update-alternatives does): the list unchanged, the
  // verdicts follow the link.
  fs::create_symlink(Program("other"), link + ".new");
  fs::rename(link + ".new", link);
  EXPECT_FALSE(TcpFromB(kA, 7006));
  EXPECT_TRUE(TcpFromB(kA, 7007));
}

TEST_F(AppVerdictsTest, AnExecutableReplacedUnderARunningProgramIsNotMatched) {
  ASSERT_EQ(Authorize(Program("authorized")), FW_OK);
  const auto old = Serve(Program("authorized"), kA, 7008);
  EXPECT_TRUE(TcpFromB(kA, 7008));
  // Deleted and written anew, as an upgrade does; the old process keeps serving.
  ASSERT_EQ(unlink(Program("authorized").c_str()), 0);
  ASSERT_TRUE(EchoProcess::CopyTo(Program("authorized")));
  EXPECT_FALSE(TcpFromB(kA, 7008));
  const auto renewed = Serve(Program("authorized"), kA, 7009);
  EXPECT_TRUE(TcpFromB(kA, 7009));
}

TEST_F(AppVerdictsTest, ATableDeletedBehindOurBackIsBuiltAgainByTheNextChange) {
  const auto authorized = Serve(Program("authorized"), kA, 7010);
  const auto other = Serve(Program("other"), kA, 7011);
  ASSERT_EQ(RunProgram({"nft", "delete", "table", "inet", "brenvo"}), 0);
  EXPECT_TRUE(TcpFromB(kA, 7011));
  ASSERT_EQ(Authorize(Program("authorized")), FW_OK);
  EXPECT_TRUE(TcpFromB(kA, 7010));
  EXPECT_FALSE(TcpFromB(kA, 7011));  // the firewall is on again too
}

// Another file mounted over the listed path in a mount namespace of an unprivileged user's
// own: the kernel names the executable by the listed path, but it is another file.
TEST_F(AppVerdictsTest, AFileMountedOverTheListedPathIsAnotherProgram) {
  const int probe = fork();
  if (probe == 0) {
    BecomeNobody();
    _exit(unshare(CLONE_NEWUSER | CLONE_NEWNS) == 0 ? 0 : errno);
  }
  int status = 0;
  waitpid(probe, &status, 0);
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
    GTEST_SKIP() << "an unprivileged user may not make a user namespace here ("
                 << std::strerror(WIFEXITED(status) ? WEXITSTATUS(status) : EINVAL)
                 << "): a chroot, or user namespaces switched off";
  ASSERT_EQ(chmod(m_dir.File("").c_str(), 0755), 0);
  const std::string listed = Program("authorized"), other = Program("other");
  ASSERT_EQ(Authorize(listed), FW_OK);
  const auto server = ServeAsNobody(listed, 7020);
  ASSERT_TRUE(server->Ready());
  const Child mounted([&](int ready) {
    BecomeNobody();
    const std::string map = "0 " + std::to_string(kNobody) + " 1";
    const int uidMap = unshare(CLONE_NEWUSER | CLONE_NEWNS) == 0 ? open("/proc/self/uid_map", O_WRONLY) : -1;
    if (uidMap < 0 || write(uidMap, map.data(), map.size()) != static_cast<ssize_t>(map.size()) ||
        mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
        mount(other.c_str(), listed.c_str(), nullptr, MS_BIND, nullptr) != 0)
      _exit(1);
    prctl(PR_SET_PDEATHSIG, SIGKILL);
    ExecEcho(listed, 7021, ready);
  });
  ASSERT_TRUE(mounted.Ready());
  EXPECT_EQ(AnsweredFromB(7021), 0);
  EXPECT_EQ(AnsweredFromB(7020), 4);
  // Nor does the record of blocked flows name it after the listed path: a notice would offer
  // to authorize that file.
  const auto recorded = [&] {
    std::vector<BlockedFlow> entries;
    for (const BlockedFlow& flow : m_blocked->List())
      if (flow.localPort == 7021) entries.push_back(flow);
    return entries;
  };
  for (int tries = 0; tries < 100 && recorded().empty(); ++tries) usleep(50000);
  ASSERT_FALSE(recorded().empty());
  for (const BlockedFlow& flow : recorded()) EXPECT_EQ(flow.holder.program, "");
}

TEST_F(AppVerdictsTest, AnUnlistedProgramCannotBorrowTheListedOneOrStealItsConnections) {
  // The listed program and the attacks all run as an unprivileged user.
  ASSERT_EQ(chmod(m_dir.File("").c_str(), 0755), 0);
  const std::string listed = Program("authorized"), other = Program("other");
  ASSERT_EQ(Authorize(listed), FW_OK);
  const auto server = ServeAsNobody(listed, 7020);
  ASSERT_TRUE(server->Ready());
  EXPECT_EQ(AnsweredFromB(7020), 4);

  // The listed file exec'd by a child that asked to be traced, so that it stops before its
  // first instruction, while the unlisted parent serves; and such a child alone.
  const auto borrow = [&](int port, bool serve) {
    return [&, port, serve](int ready) {
      BecomeNobody();
      const std::pair<int, int> sockets = Sockets(port);
      if (fork() == 0) {
        ptrace(PTRACE_TRACEME, 0, nullptr, nullptr);
        execl(listed.c_str(), listed.c_str(), nullptr);
        _exit(127);
      }
      if (!serve) close(sockets.first), close(sockets.second);
      write(ready, "r", 1);
      if (serve) ServeUntilKilled(sockets);
      pause();
    };
  };
  const Child borrowing(borrow(7022, true));
  const Child traced(borrow(7023, false));
  ASSERT_TRUE(borrowing.Ready() && traced.Ready());
  EXPECT_EQ(AnsweredFromB(7022), 0);
  EXPECT_FALSE(TcpFromB(kA, 7023));  // the kernel completes the handshake for a stopped listener
  EXPECT_EQ(AnsweredFromB(7020), 4);

  // An unlisted program of the same user joins the listed server's SO_REUSEPORT group and
  // takes every flow with a BPF program.
  {
    const Child stealing([](int ready) {
      BecomeNobody();
      const std::pair<int, int> sockets = Sockets(7020, true);
      write(ready, "r", 1);
      ServeUntilKilled(sockets);
    });
    ASSERT_TRUE(stealing.Ready());
    EXPECT_EQ(AnsweredFromB(7020), 0);
  }
  EXPECT_EQ(AnsweredFromB(7020), 4);
}

TEST_F(AppVerdictsTest, ASocketHandedOnByPidOneIsTheProgramsItRunsAlone) {
  // A pid namespace whose pid 1 stands for the service manager: it holds listeners and
  // hands them to the programs it starts. Verdicts look at its processes through a proc of
  // its own.
  const std::string proc = m_dir.File("proc");
  fs::create_directories(proc);
  struct Unmount {
    std::string path;
    ~Unmount() { umount2(path.c_str(), MNT_DETACH); }
  } unmount{proc};
  Child manager([&](int ready) {
    if (unshare(CLONE_NEWPID) != 0) _exit(1);
    if (fork() != 0) pause();
    prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (mount("proc", proc.c_str(), "proc", 0, nullptr) != 0) _exit(1);
    const int activated = Sockets(7024).first;
    Sockets(7025);
    const int alone = Sockets(7026).first;
    fcntl(alone, F_SETFD, FD_CLOEXEC);
    int started[2];
    if (pipe2(started, O_CLOEXEC) != 0) _exit(1);
    if (fork() == 0) {
      execl(Program("authorized").c_str(), "echo", kA, "7027", nullptr);
      _exit(127);
    }
    if (fork() == 0) {  // this test's program, not listed, holding one of them too
      close(activated);
      close(alone);
      close(started[1]);
      pause();
    }
    close(started[1]);
    char eof;
    if (read(started[0], &eof, 1) != 0) _exit(1);  // exec'd
    write(ready, "r", 1);
    pause();
  });
  ASSERT_TRUE(manager.Ready());
  AppVerdicts verdicts(proc);
  verdicts.SetAuthorizedPaths({Program("authorized")});
  const auto judge = [&](int port) {
    InboundFlow flow{AF_INET, IPPROTO_TCP};
    inet_pton(AF_INET, kA, flow.localAddress.data());
    flow.localPort = static_cast<std::uint16_t>(port);
    const std::uint64_t since = verdicts.Generation();
    for (int round = 0; round < 3; ++round) {
      const AppVerdicts::Verdict verdict = verdicts.Judge(flow, 0, since);
      if (verdict != AppVerdicts::Verdict::kWait) return verdict;
      pollfd published{verdicts.Published(), POLLIN, 0};
      poll(&published, 1, 5000);
      verdicts.Acknowledge();
    }
    return AppVerdicts::Verdict::kWait;
  };
  EXPECT_EQ(judge(7024), AppVerdicts::Verdict::kAccept);
  EXPECT_EQ(judge(7025), AppVerdicts::Verdict::kDrop);
  EXPECT_EQ(judge(7026), AppVerdicts::Verdict::kDrop);  // no program: only the manager
}

// How many packets the kernel has queued for a verdict so far in this thread's namespace.
long QueuedSoFar() {
  std::ifstream queues("/proc/thread-self/net/netfilter/nfnetlink_queue");
  for (std::string line; std::getline(queues, line);) {
    std::istringstream fields(line);
    long number = -1, field = 0;
    fields >> number;
    for (int i = 0; i < 7 && fields >> field; ++i) {
    }
    if (number == 4151) return field;  // the eighth field: the last packet's id
  }
  return -1;
}

TEST_F(AppVerdictsTest, EachFlowIsAskedAboutOnce) {
  // This test's own program, holding a UDP socket that never answers: its flow stays "new"
  // to the kernel's connection tracking, datagram after datagram.
  ASSERT_EQ(Authorize(fs::canonical("/proc/self/exe")), FW_OK);
  const Fd quiet(socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0));
  const sockaddr_in at = Address(kA, 7012);
  ASSERT_EQ(bind(quiet.fd, reinterpret_cast<const sockaddr*>(&at), sizeof at), 0);
  const long before = QueuedSoFar();
  int arrived = 0;
  {
    const InNamespace inB(m_netns->B());
    const Fd flow(socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0));
    // The first datagram is let in before the others go: those sent at once would each be
    // the first the kernel has seen of the flow.
    for (int i = 0; i < 5; ++i) {
      sendto(flow.fd, "x", 1, 0, reinterpret_cast<const sockaddr*>(&at), sizeof at);
      char byte;
      arrived += Readable(quiet.fd) && recv(quiet.fd, &byte, 1, 0) == 1;
    }
  }
  EXPECT_EQ(arrived, 5);
  EXPECT_EQ(QueuedSoFar() - before, 1);

  // A TCP connection: its SYN, then established traffic.
  const auto server = Serve(Program("other"), kA, 7013);
  ASSERT_EQ(Authorize(Program("other")), FW_OK);
  const long beforeTcp = QueuedSoFar();
  Fd connection(-1);
  {
    const InNamespace inB(m_netns->B());
    connection.fd = ConnectTcp(kA, 7013);
  }
  ASSERT_GE(connection.fd, 0);
  char echoed[4];
  for (int i = 0; i < 5; ++i)
    ASSERT_TRUE(send(connection.fd, "abc", 3, 0) == 3 && Readable(connection.fd) &&
                recv(connection.fd, echoed, 3, 0) == 3);
  EXPECT_EQ(QueuedSoFar() - beforeTcp, 1);
}

}  // namespace
