// The verdicts on authorized programs, in network namespaces of the benchmark's own (root
// only). This program is the authorized program: its servers run in namespace A, its clients
// in namespace B, and the firewall of namespace A is held by this process, as the window holds
// it in the nftables backend. Four figures, the first three beside the same traffic let in by
// an open port instead:
//   - the time a verdict adds to the first packet of a new connection, with 500 processes of
//     another user holding 20 sockets each (budget: median 1 ms, 99th percentile 5 ms), and to the first
//     connection to a socket never seen before (budget: median 5 ms);
//   - verdicts per second under a stream of new connections (budget: 5,000);
//   - established traffic, which never waits for a verdict (budget: no difference beyond noise);
//   - a local user's stall attempt: 8 processes of 19,000 descriptors each and 100 unlisted
//     listeners, all of that user, and SYNs to them from B, 100 every 100 ms; meanwhile, the time to connect to
//     a listed server already known (budget: 100 ms) and to one started during it (budget:
//     3 s, one SYN retransmission).
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/epoll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <functional>
#include <memory>
#include <thread>
#include <vector>

#include "bench/app_verdicts/verdict_world.h"
#include "bench/firewall_store/latency.h"
#include "firewall/local_firewall.h"
#include "firewall/local_registration.h"
#include "firewall/nft/nftables_enforcer.h"

namespace {

constexpr int kLatencyPort = 7100, kStreamPort = 7101, kFreshPorts = 7200, kUnlistedPorts = 7600;

// A TCP listener of this process on A's address, served by a thread: it accepts and closes
// (`drain` false), or reads and discards what arrives (`drain` true).
class Server {
 public:
  Server(int port, bool drain) : m_listener(Listen(port)), m_thread([this, drain] { Serve(drain); }) {}
  ~Server() {
    m_stop = true;
    shutdown(m_listener, SHUT_RDWR);
    m_thread.join();
    close(m_listener);
  }
  int Listener() const { return m_listener; }

 private:
  static int Listen(int port) {
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const int yes = 1;
    setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
    const sockaddr_in at = Address(kA, port);
    if (bind(fd, reinterpret_cast<const sockaddr*>(&at), sizeof at) != 0 || listen(fd, 4096) != 0) std::exit(1);
    return fd;
  }
  void Serve(bool drain) {
    std::vector<char> buffer(1 << 20);
    while (!m_stop) {
      const int connection = accept4(m_listener, nullptr, nullptr, SOCK_CLOEXEC);
      if (connection < 0) continue;
      while (drain && read(connection, buffer.data(), buffer.size()) > 0) {
      }
      close(connection);
    }
  }

  int m_listener;
  std::atomic<bool> m_stop{false};
  std::thread m_thread;
};

// Processes of an unprivileged user that only hold sockets, for the verdicts to look past in
// /proc, each with `descriptors` more copies of one socket.
class Crowd {
 public:
  Crowd(int processes, int socketsEach, int descriptors = 0) {
    for (int i = 0; i < processes; ++i) {
      const pid_t pid = fork();
      if (pid == 0) {
        const rlimit room{static_cast<rlim_t>(descriptors) + 1024, static_cast<rlim_t>(descriptors) + 1024};
        if (setrlimit(RLIMIT_NOFILE, &room) != 0) _exit(1);
        BecomeNobody();
        for (int s = 0; s < socketsEach; ++s) {
          const int fd = socket(AF_INET, (s % 2 ? SOCK_DGRAM : SOCK_STREAM) | SOCK_CLOEXEC, 0);
          const sockaddr_in any = Address("127.0.0.1", 0);
          bind(fd, reinterpret_cast<const sockaddr*>(&any), sizeof any);
          if (s % 2 == 0) listen(fd, 1);
        }
        const int one = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        for (int d = 0; d < descriptors; ++d) dup(one);
        pause();
        _exit(0);
      }
      if (pid > 0) m_children.push_back(pid);
    }
  }
  ~Crowd() {
    for (const pid_t pid : m_children) kill(pid, SIGKILL);
    for (const pid_t pid : m_children) waitpid(pid, nullptr, 0);
  }

 private:
  std::vector<pid_t> m_children;
};

// New connections completed per second, `inFlight` at a time, for `seconds`.
double ConnectionsPerSecond(const std::string& netnsB, int port, int inFlight, double seconds) {
  long done = 0;
  Clock::duration took{};
  InNamespaceThread(netnsB, [&] {
    const int poller = epoll_create1(EPOLL_CLOEXEC);
    const sockaddr_in to = Address(kA, port);
    const auto open = [&] {
      const int fd = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
      connect(fd, reinterpret_cast<const sockaddr*>(&to), sizeof to);
      epoll_event event{EPOLLOUT, {}};
      event.data.fd = fd;
      epoll_ctl(poller, EPOLL_CTL_ADD, fd, &event);
    };
    for (int i = 0; i < inFlight; ++i) open();
    const auto start = Clock::now();
    const auto until = start + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(seconds));
    epoll_event ready[64];
    while (Clock::now() < until) {
      const int count = epoll_wait(poller, ready, 64, 100);
      for (int i = 0; i < count; ++i) {
        int error = 0;
        socklen_t size = sizeof error;
        getsockopt(ready[i].data.fd, SOL_SOCKET, SO_ERROR, &error, &size);
        done += error == 0;
        Reset(ready[i].data.fd);  // closing takes it out of the epoll set
        open();
      }
    }
    took = Clock::now() - start;
    close(poller);
  });
  return done / (Ms(took) / 1000);
}

// MB/s of one established connection sending for `seconds`.
double Throughput(const std::string& netnsB, int port, double seconds) {
  double megabytesPerSecond = 0;
  InNamespaceThread(netnsB, [&] {
    const Fd fd(ConnectTcp(kA, port, 3000));
    if (fd.fd < 0) return;
    fcntl(fd.fd, F_SETFL, 0);
    std::vector<char> block(1 << 20, 'x');
    long bytes = 0;
    const auto start = Clock::now();
    while (Ms(Clock::now() - start) < seconds * 1000) {
      const ssize_t sent = send(fd.fd, block.data(), block.size(), 0);
      if (sent <= 0) break;
      bytes += sent;
    }
    megabytesPerSecond = bytes / 1e6 / (Ms(Clock::now() - start) / 1000);
  });
  return megabytesPerSecond;
}

// From B, until `stop`: a SYN to each of `count` unlisted ports every 100 ms, each from a
// new socket (whose SYN the kernel also sends again).
void Flood(const std::string& netnsB, int count, const std::atomic<bool>& stop) {
  InNamespaceThread(netnsB, [&] {
    std::vector<int> open;
    while (!stop) {
      for (const int fd : open) Reset(fd);
      open.clear();
      for (int i = 0; i < count; ++i) {
        const int fd = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
        const sockaddr_in to = Address(kA, kUnlistedPorts + i);
        connect(fd, reinterpret_cast<const sockaddr*>(&to), sizeof to);
        open.push_back(fd);
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    for (const int fd : open) Reset(fd);
  });
}

void StallAttempt(const NetnsPair& netns, const BenchDir& dir) {
  std::printf(
      "\nduring a stall attempt: 8 processes x 19,000 descriptors, 100 unlisted listeners, 100 SYNs\n"
      "every 100 ms\n");
  const Crowd heavy(8, 0, 19000);
  const UnlistedListeners unlisted(std::filesystem::path(dir.Database()).parent_path(), 100, kUnlistedPorts);
  std::atomic<bool> stop{false};
  std::thread flood(Flood, netns.B(), 100, std::cref(stop));
  std::this_thread::sleep_for(std::chrono::seconds(1));  // the lookups under way

  Samples known, fresh;
  TimeConnections(netns.B(), kLatencyPort, 100, &known);
  for (int i = 0; i < 5; ++i) {
    const Server started(kFreshPorts + 300 + i, false);
    TimeConnections(netns.B(), kFreshPorts + 300 + i, 1, &fresh, 30000);
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
  }
  stop = true;
  flood.join();
  std::printf("%-34s %11s %11s %11s\n", "connection to", "median ms", "p99 ms", "slowest ms");
  std::printf("%-34s %11.3f %11.3f %11.3f   budget 100 ms%s\n", "a listed server already known", known.Percentile(0.5),
              known.Percentile(0.99), known.Percentile(1), known.Percentile(1) <= 100 ? "" : "  OVER BUDGET");
  std::printf("%-34s %11.3f %11.3f %11.3f   budget 3 s%s\n", "a listed server started meanwhile", fresh.Percentile(0.5),
              fresh.Percentile(0.99), fresh.Percentile(1), fresh.Percentile(1) <= 3000 ? "" : "  OVER BUDGET");
}

// Lets the servers in by their ports (false) or by this program's path (true).
using LetIn = std::function<void(bool byPath)>;

// The first packet of new connections let in by port and by path; the times by port.
Samples FirstPackets(const NetnsPair& netns, const LetIn& letInByPath) {
  std::printf("\nfirst packet of a new connection, 2,000 connections each\n%-34s %11s %11s\n", "let in by", "median ms",
              "p99 ms");
  Samples byPort, byPath;
  for (const bool path : {false, true}) {
    letInByPath(path);
    Samples warming;  // the socket's holders become known
    TimeConnections(netns.B(), kLatencyPort, 50, &warming);
    TimeConnections(netns.B(), kLatencyPort, 2000, path ? &byPath : &byPort);
  }
  const double medianAdded = byPath.Percentile(0.5) - byPort.Percentile(0.5);
  const double p99Added = byPath.Percentile(0.99) - byPort.Percentile(0.99);
  std::printf("%-34s %11.3f %11.3f\n", "an open port", byPort.Percentile(0.5), byPort.Percentile(0.99));
  std::printf("%-34s %11.3f %11.3f\n", "this program's path (a verdict)", byPath.Percentile(0.5),
              byPath.Percentile(0.99));
  std::printf("%-34s %11.3f %11.3f   budget 1 ms / 5 ms%s\n", "added by the verdict", medianAdded, p99Added,
              medianAdded <= 1 && p99Added <= 5 ? "" : "  OVER BUDGET");
  return byPort;
}

void FirstSight(const NetnsPair& netns, Samples byPort) {
  // A socket no verdict has seen: its holders are looked for in /proc, past the crowd.
  Samples firstSight;
  for (int i = 0; i < 200; ++i) {
    const Server fresh(kFreshPorts + i, false);
    TimeConnections(netns.B(), kFreshPorts + i, 1, &firstSight);
  }
  const double firstAdded = firstSight.Percentile(0.5) - byPort.Percentile(0.5);
  std::printf("%-34s %11.3f %11.3f   (200 sockets, one scan of /proc each)\n", "a socket seen the first time",
              firstSight.Percentile(0.5), firstSight.Percentile(0.99));
  std::printf("%-34s %11.3f %11.3f   budget 5 ms (median)%s\n", "added by its first verdict", firstAdded,
              firstSight.Percentile(0.99) - byPort.Percentile(0.99), firstAdded <= 5 ? "" : "  OVER BUDGET");
}

void ConnectionRates(const NetnsPair& netns, const LetIn& letInByPath) {
  std::printf("\nnew connections per second, 64 at a time for 3 s\n");
  letInByPath(false);
  const double portRate = ConnectionsPerSecond(netns.B(), kLatencyPort, 64, 3);
  letInByPath(true);
  const double pathRate = ConnectionsPerSecond(netns.B(), kLatencyPort, 64, 3);
  std::printf("%-34s %11.0f\n", "an open port", portRate);
  std::printf("%-34s %11.0f   budget 5,000 verdicts/s%s\n", "this program's path (a verdict)", pathRate,
              pathRate >= 5000 ? "" : "  UNDER BUDGET");
}

void EstablishedTraffic(const NetnsPair& netns, const LetIn& letInByPath) {
  std::printf("\nestablished traffic, one connection sending for 2 s, MB/s (median of 5 runs)\n");
  Samples rates[2];
  for (int run = 0; run < 5; ++run) {
    for (const bool path : {false, true}) {
      letInByPath(path);
      rates[path].Add(Throughput(netns.B(), kStreamPort, 2));
    }
  }
  const double difference = rates[1].Percentile(0.5) / rates[0].Percentile(0.5) - 1;
  std::printf("%-34s %11.0f   (lowest %.0f, highest %.0f)\n", "an open port", rates[0].Percentile(0.5),
              rates[0].Percentile(0), rates[0].Percentile(1));
  std::printf("%-34s %11.0f   (lowest %.0f, highest %.0f)\n", "this program's path", rates[1].Percentile(0.5),
              rates[1].Percentile(0), rates[1].Percentile(1));
  std::printf("%-34s %+10.1f%%   budget: within the spread of the runs\n", "difference of the medians",
              difference * 100);
}

}  // namespace

int main() {
  if (const std::string problem = NamespaceTestProblem(); !problem.empty()) {
    std::printf("verdict benchmark skipped: %s\n", problem.c_str());
    return 0;
  }
  const NetnsPair netns;
  if (!netns.Problem().empty()) {
    std::printf("verdict benchmark skipped: %s\n", netns.Problem().c_str());
    return 0;
  }
  const InNamespace inA(netns.A());
  if (!inA.Entered()) {
    std::printf("verdict benchmark skipped: cannot enter the namespace %s\n", netns.A().c_str());
    return 0;
  }
  // Made first, so that they hold none of the sockets that follow.
  std::printf("starting 500 processes of another user, 20 sockets each\n");
  const Crowd crowd(500, 20);
  auto enforcer = std::make_shared<NftablesEnforcer>(true);
  if (const Status may = enforcer->MayChangeKernelFirewall(); !may.ok()) {
    std::printf("verdict benchmark skipped: %s\n", may.reason().c_str());
    return 0;
  }
  const BenchDir dir;
  std::shared_ptr<LocalFirewall> firewall;
  FailUnless(OpenLocalFirewall(dir.Database(), enforcer, &firewall), "opening the firewall");
  FailUnless(firewall->WriteFirewallEnabled(true), "opening the firewall");
  const AppRecord self{Wide(std::filesystem::canonical("/proc/self/exe")), u"this benchmark", true};
  const std::vector<PortRecord> ports = {{{kLatencyPort, 6}, u"latency", true}, {{kStreamPort, 6}, u"stream", true}};
  const LetIn letInByPath = [&](bool byPath) {
    for (const PortRecord& port : ports)
      FailUnless(byPath ? firewall->Remove(port.key) : firewall->Add(port), "changing a port");
    FailUnless(byPath ? firewall->Add(self) : firewall->Remove(self.key), "changing the program");
  };

  const Server latency(kLatencyPort, false);
  const Server stream(kStreamPort, true);
  FirstSight(netns, FirstPackets(netns, letInByPath));
  ConnectionRates(netns, letInByPath);
  EstablishedTraffic(netns, letInByPath);
  StallAttempt(netns, dir);
  return 0;
}
