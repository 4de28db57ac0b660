// The cost of the record of blocked flows under a flood, in network namespaces of the
// benchmark's own (root only). The firewall of namespace A is on, held as the service holds
// it (an NftablesEnforcer that serves the verdicts) by a child process of its own, so that
// its processor time can be read apart; an echo server in A is authorized, another copy of
// it listens there as an unprivileged user, unauthorized. From B, 100,000 TCP SYNs as fast
// as a raw socket takes them, half to closed ports and half to the unauthorized listener,
// while new connections to the authorized echo server are timed, one begun every 0.5 ms.
// Three cases, each run three times in turn: no flood, the flood with the rule that copies
// drops to the drop log, and the flood with chain drop_log flushed. While a program is
// authorized every new SYN waits for a verdict, so the flood never reaches that rule; the
// same three cases follow with the server let in by an open port and nothing authorized.
// Budgets: the latency with the rule within 2x of without it; the firewall process's
// processor time at most 20% of one core from the flood's start until it is idle again.
#include <nftables/libnftables.h>
#include <signal.h>
#include <sys/epoll.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <nlohmann/json.hpp>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "bench/app_verdicts/verdict_world.h"
#include "bench/firewall_store/latency.h"
#include "firewall/local_firewall.h"
#include "firewall/local_registration.h"
#include "firewall/nft/nft_commands.h"
#include "firewall/nft/nftables_enforcer.h"
#include "firewall/verdicts/app_queue.h"
#include "firewall/verdicts/blocked_flows.h"
#include "tools/packet_builder.h"

namespace {

using nlohmann::json;

constexpr int kAuthorizedPort = 7100, kUnauthorizedPort = 7300, kFirstClosedPort = 20000, kClosedPorts = 40000;
constexpr int kFloodPackets = 100000;
constexpr unsigned kBatch = 256;  // datagrams a sendmmsg call
// Connections to the authorized server: one begun this often while the flood is sent.
constexpr auto kConnectionEvery = std::chrono::microseconds(500);
constexpr int kConnectionTimeoutMs = 10000;
constexpr int kBaselineConnections = 300;
constexpr int kRounds = 3;

// What an interruption or a failure must not leave behind: the namespaces (and with A, the
// firewall's rules) and the folder; after a normal end their owners have removed them
// already. Children die with this process (their parent-death signal).
std::vector<std::string> g_namespaces;
std::string g_folder;

void CleanUp() {
  for (const std::string& name : g_namespaces) RunProgram({"ip", "netns", "del", name});
  g_namespaces.clear();
  if (!g_folder.empty()) {
    std::error_code ignored;
    std::filesystem::remove_all(g_folder, ignored);
  }
}

sigset_t InterruptSignals() {
  sigset_t signals;
  sigemptyset(&signals);
  for (const int signal : {SIGINT, SIGTERM, SIGHUP, SIGQUIT}) sigaddset(&signals, signal);
  return signals;
}

// Keeps the signals that interrupt a run waiting, in this thread and every thread and child
// made from now on, until CleanUpWhenInterrupted takes them.
void HoldInterrupts() {
  const sigset_t signals = InterruptSignals();
  pthread_sigmask(SIG_BLOCK, &signals, nullptr);
}

// Cleans up at exit (failures leave by std::exit), and when interrupted: then a child of a
// thread of its own cleans up, which the rest of the process, running on meanwhile, cannot
// cut short, and the process ends.
void CleanUpWhenInterrupted() {
  std::atexit(CleanUp);
  std::thread([signals = InterruptSignals()] {
    int signal = 0;
    sigwait(&signals, &signal);
    std::fprintf(stderr, "interrupted: removing the namespaces\n");
    const pid_t cleaner = fork();
    if (cleaner == 0) {
      CleanUp();
      _exit(0);
    }
    if (cleaner > 0) waitpid(cleaner, nullptr, 0);
    _exit(128 + signal);
  }).detach();
}

std::set<pid_t> Threads(pid_t pid) {
  std::set<pid_t> threads;
  for (const auto& task : std::filesystem::directory_iterator("/proc/" + std::to_string(pid) + "/task"))
    threads.insert(std::stoi(task.path().filename()));
  return threads;
}

// Nanoseconds the thread `tid` of `pid` has run (0 once it is gone).
std::uint64_t RunTimeNs(pid_t pid, pid_t tid) {
  std::ifstream schedstat("/proc/" + std::to_string(pid) + "/task/" + std::to_string(tid) + "/schedstat");
  std::uint64_t ns = 0;
  schedstat >> ns;
  return ns;
}

// What the firewall process tells its parent.
struct Started {
  char problem[512] = {};  // empty where it serves
  pid_t verdictThread = 0, dropLogThread = 0;
};
// The record of blocked flows.
struct Kept {
  std::uint64_t entries = 0;
  std::uint64_t listenerBlocks = 0;  // counted for the unauthorized listener
};

// Processor time of the firewall process: its verdict thread, its drop log's thread, and
// the rest (socket holder scans, the thread that answers the benchmark).
struct Cpu {
  std::uint64_t verdicts = 0, dropLog = 0, all = 0;
  Cpu operator-(const Cpu& before) const {
    return {verdicts - before.verdicts, dropLog - before.dropLog, all - before.all};
  }
  Cpu operator+(const Cpu& more) const { return {verdicts + more.verdicts, dropLog + more.dropLog, all + more.all}; }
};

// The kernel's counts for the verdicts' queue in the network namespace of process `pid`.
struct Queued {
  std::uint64_t packets = 0;    // put in the queue
  std::uint64_t fullDrops = 0;  // dropped, the queue full or its reader's socket
};

Queued QueueCounts(pid_t pid) {
  std::ifstream table("/proc/" + std::to_string(pid) + "/net/netfilter/nfnetlink_queue");
  unsigned queue, portId, waiting, mode, range;
  std::uint64_t dropped, userDropped, sequence, one;
  while (table >> queue >> portId >> waiting >> mode >> range >> dropped >> userDropped >> sequence >> one)
    if (queue == kAppQueue) return {sequence, dropped + userDropped};
  return {};
}

// The firewall of namespace A in a child process, on, with the program at `authorized`
// authorized, as the service keeps it. It answers questions about its record of blocked
// flows until the benchmark goes.
class FirewallProcess {
 public:
  FirewallProcess(const std::string& netnsA, const std::string& database, const std::string& authorized) {
    int ends[2];
    if (socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0, ends) != 0) Fail("a socket pair");
    m_pid = fork();
    if (m_pid < 0) Fail("starting the firewall process");
    if (m_pid == 0) {
      close(ends[0]);
      Serve(ends[1], netnsA, database, authorized);
    }
    close(ends[1]);
    m_socket = ends[0];
    if (recv(m_socket, &m_started, sizeof m_started, 0) != sizeof m_started) Fail("starting the firewall process");
  }
  // Its rules stay in namespace A, which goes next.
  ~FirewallProcess() {
    close(m_socket);
    kill(m_pid, SIGKILL);
    waitpid(m_pid, nullptr, 0);
  }
  FirewallProcess(const FirewallProcess&) = delete;
  FirewallProcess& operator=(const FirewallProcess&) = delete;

  std::string Problem() const { return m_started.problem; }
  Queued Queue() const { return QueueCounts(m_pid); }
  Cpu Used() const {
    Cpu used{RunTimeNs(m_pid, m_started.verdictThread), RunTimeNs(m_pid, m_started.dropLogThread), 0};
    for (const pid_t tid : Threads(m_pid)) used.all += RunTimeNs(m_pid, tid);
    return used;
  }
  Kept Record() const { return Ask(kRecord); }
  // From now on, the authorized server is let in by its open port, and no program is
  // authorized: nothing goes to the verdicts.
  void LetInByPort() const { Ask(kLetInByPort); }

 private:
  [[noreturn]] static void Serve(int socket, const std::string& netnsA, const std::string& database,
                                 const std::string& authorized) {
    prctl(PR_SET_PDEATHSIG, SIGKILL);
    const InNamespace inA(netnsA);
    Started started;
    std::shared_ptr<LocalFirewall> firewall;
    auto enforcer = std::make_shared<NftablesEnforcer>(true);
    const pid_t self = getpid();
    std::set<pid_t> before = Threads(self);
    Status status = inA.Entered() ? enforcer->MayChangeKernelFirewall() : Failed("cannot enter namespace A");
    // The drop log starts with the table, the verdicts with the first authorized program.
    if (status.ok()) status = OpenLocalFirewall(database, enforcer, &firewall);
    if (status.ok()) status = firewall->WriteFirewallEnabled(true);
    std::set<pid_t> after = Threads(self);
    for (const pid_t tid : after)
      if (!before.count(tid) && !started.dropLogThread) started.dropLogThread = tid;
    const AppRecord program{Wide(authorized), u"echo", true};
    if (status.ok()) status = firewall->Add(program);
    before = std::move(after);
    for (const pid_t tid : Threads(self))
      if (!before.count(tid) && !started.verdictThread) started.verdictThread = tid;
    if (status.ok() && (!started.dropLogThread || !started.verdictThread))
      status = Failed("the verdicts or the drop log did not start a thread");
    std::snprintf(started.problem, sizeof started.problem, "%s", status.ok() ? "" : status.reason().c_str());
    send(socket, &started, sizeof started, 0);
    char question;
    while (status.ok() && recv(socket, &question, 1, 0) == 1) {
      if (question == kLetInByPort) {
        status = firewall->Add(PortRecord{{kAuthorizedPort, IPPROTO_TCP}, u"echo", true});
        if (status.ok()) status = firewall->Remove(program.key);
        if (!status.ok()) break;
      }
      Kept kept;
      for (const BlockedFlow& flow : enforcer->Blocked()->List()) {
        ++kept.entries;
        if (flow.localPort == kUnauthorizedPort) kept.listenerBlocks += flow.count;
      }
      send(socket, &kept, sizeof kept, 0);
    }
    _exit(0);
  }

  static constexpr char kRecord = 'r', kLetInByPort = 'p';

  // The firewall process ends where it cannot do what is asked.
  Kept Ask(char question) const {
    Kept kept;
    if (send(m_socket, &question, 1, 0) != 1 || recv(m_socket, &kept, sizeof kept, 0) != sizeof kept)
      Fail("asking the firewall process");
    return kept;
  }

  pid_t m_pid = -1;
  int m_socket = -1;
  Started m_started;
};

// Runs nftables JSON commands in namespace A from a context of the benchmark's own; the
// output, or a failure.
std::string RunNft(const std::string& netnsA, const std::string& commands) {
  std::string output;
  bool ran = false;
  InNamespaceThread(netnsA, [&] {
    ran = true;
    nft_ctx* context = nft_ctx_new(NFT_CTX_DEFAULT);
    nft_ctx_output_set_flags(context, NFT_CTX_OUTPUT_JSON);
    nft_ctx_buffer_output(context);
    nft_ctx_buffer_error(context);
    const bool done = nft_run_cmd_from_buffer(context, commands.c_str()) == 0;
    output = done ? nft_ctx_get_output_buffer(context) : "";
    const std::string error = nft_ctx_get_error_buffer(context);
    nft_ctx_free(context);
    if (!done) Fail("an nftables command", error);
  });
  if (!ran) Fail("entering namespace A");
  return output;
}

// Fills chain drop_log as the firewall does, with a counter before each log statement, so
// that the copies the kernel sends to the drop log can be counted; the counters start at 0.
void CountedDropLog(const std::string& netnsA) {
  json commands = json::parse(nft::DropLogCommand({.queueStatement = true, .socketExpression = true}));
  for (json& command : commands["nftables"]) {
    if (!command.contains("add")) continue;
    json& expressions = command["add"]["rule"]["expr"];
    const auto log = std::find_if(expressions.begin(), expressions.end(),
                                  [](const json& expression) { return expression.contains("log"); });
    if (log != expressions.end()) expressions.insert(log, json{{"counter", nullptr}});
  }
  RunNft(netnsA, commands.dump());
}

// The command `verb` on chain drop_log.
std::string OnDropLogChain(const char* verb) {
  const json chain = {{"family", "inet"}, {"table", "brenvo"}, {"name", nft::kDropLogChain}};
  return json{{"nftables", json::array({{{verb, {{"chain", chain}}}}})}}.dump();
}

void FlushDropLog(const std::string& netnsA) { RunNft(netnsA, OnDropLogChain("flush")); }

// The copies sent to the drop log since CountedDropLog.
std::uint64_t CopiesSent(const std::string& netnsA) {
  const json listed = json::parse(RunNft(netnsA, OnDropLogChain("list")));
  std::uint64_t copies = 0;
  for (const json& item : listed["nftables"])
    if (item.contains("rule"))
      for (const json& expression : item["rule"]["expr"])
        if (expression.contains("counter")) copies += expression["counter"]["packets"].get<std::uint64_t>();
  return copies;
}

using Datagram = std::vector<std::uint8_t>;

// The flood, made before it is sent: SYNs from B, the even ones to closed ports, the odd
// ones to the unauthorized listener, each from a port and with a sequence number of its own.
std::vector<Datagram> FloodDatagrams() {
  std::vector<Datagram> datagrams;
  datagrams.reserve(kFloodPackets);
  for (int i = 0; i < kFloodPackets; ++i) {
    const int port = i % 2 ? kUnauthorizedPort : kFirstClosedPort + i / 2 % kClosedPorts;
    datagrams.push_back(
        tools::TcpDatagram({NetnsPair::kAddressB, kA, static_cast<std::uint16_t>(1024 + i % 60000),
                            static_cast<std::uint16_t>(port), static_cast<std::uint32_t>(i) * 7919u, 0, tools::kSyn}));
  }
  return datagrams;
}

// Sends `datagrams` from the calling thread's namespace as fast as a raw socket takes them,
// kBatch a call; how many it took.
long SendFlood(const std::vector<Datagram>& datagrams) {
  const Fd raw(socket(AF_INET, SOCK_RAW | SOCK_CLOEXEC, IPPROTO_RAW));
  if (raw.fd < 0) Fail("a raw socket");
  sockaddr_in to = Address(kA, 0);
  std::vector<iovec> pieces(kBatch);
  std::vector<mmsghdr> messages(kBatch);
  std::size_t next = 0;
  while (next < datagrams.size()) {
    const unsigned count = static_cast<unsigned>(std::min<std::size_t>(kBatch, datagrams.size() - next));
    for (unsigned i = 0; i < count; ++i) {
      const Datagram& datagram = datagrams[next + i];
      pieces[i] = {const_cast<std::uint8_t*>(datagram.data()), datagram.size()};
      messages[i] = {};
      messages[i].msg_hdr.msg_name = &to;
      messages[i].msg_hdr.msg_namelen = sizeof to;
      messages[i].msg_hdr.msg_iov = &pieces[i];
      messages[i].msg_hdr.msg_iovlen = 1;
    }
    const int sent = sendmmsg(raw.fd, messages.data(), count, 0);
    if (sent < 0 && (errno == ENOBUFS || errno == EAGAIN || errno == EINTR)) {
      std::this_thread::yield();
      continue;
    }
    if (sent < 0) break;
    next += static_cast<std::size_t>(sent);
  }
  return static_cast<long>(next);
}

// The times of new connections to the authorized server from the calling thread's
// namespace, one begun every kConnectionEvery while `more` says so, all then awaited.
struct Latency {
  Samples ms;
  int begun = 0;
  int failed = 0;  // refused, or not through within kConnectionTimeoutMs
};

void TimePacedConnections(const std::function<bool(int begun)>& more, Latency* latency) {
  const int poller = epoll_create1(EPOLL_CLOEXEC);
  const sockaddr_in to = Address(kA, kAuthorizedPort);
  std::vector<std::pair<int, Clock::time_point>> open;  // by when begun
  // Out of the epoll set before it is closed: a child forked meanwhile holds it open too.
  const auto finish = [&](std::vector<std::pair<int, Clock::time_point>>::iterator connection) {
    epoll_ctl(poller, EPOLL_CTL_DEL, connection->first, nullptr);
    Reset(connection->first);
    open.erase(connection);
  };
  auto nextStart = Clock::now();
  bool beginning = true;
  while (beginning || !open.empty()) {
    const auto now = Clock::now();
    if (beginning && now >= nextStart) {
      beginning = more(latency->begun);
      if (beginning) {
        const int fd = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
        connect(fd, reinterpret_cast<const sockaddr*>(&to), sizeof to);
        epoll_event event{EPOLLOUT, {}};
        event.data.fd = fd;
        epoll_ctl(poller, EPOLL_CTL_ADD, fd, &event);
        open.emplace_back(fd, now);
        ++latency->begun;
        nextStart += kConnectionEvery;
      }
    }
    // Those past the time-out first: they are the oldest.
    while (!open.empty() && Ms(now - open.front().second) > kConnectionTimeoutMs) {
      ++latency->failed;
      finish(open.begin());
    }
    const auto wait = beginning ? std::max(nextStart - Clock::now(), Clock::duration::zero())
                                : std::chrono::duration_cast<Clock::duration>(std::chrono::milliseconds(50));
    const timespec timeout{0, static_cast<long>(std::chrono::duration_cast<std::chrono::nanoseconds>(wait).count())};
    epoll_event ready[64];
    const int count = epoll_pwait2(poller, ready, 64, &timeout, nullptr);
    const auto done = Clock::now();
    for (int i = 0; i < count; ++i) {
      const int fd = ready[i].data.fd;
      const auto found = std::find_if(open.begin(), open.end(), [fd](const auto& entry) { return entry.first == fd; });
      if (found == open.end()) continue;
      int error = 0;
      socklen_t size = sizeof error;
      getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &size);
      if (error == 0) latency->ms.Add(Ms(done - found->second));
      latency->failed += error != 0;
      finish(found);
    }
  }
  close(poller);
}

// Waits until the firewall process has been idle (under 2% of a core) for 100 ms; when it
// was last busy.
Clock::time_point WaitUntilIdle(const FirewallProcess& firewall) {
  constexpr auto kStep = std::chrono::milliseconds(50);
  auto lastBusy = Clock::now();
  std::uint64_t used = firewall.Used().all;
  for (int idle = 0; idle < 2 && Clock::now() - lastBusy < std::chrono::seconds(60);) {
    std::this_thread::sleep_for(kStep);
    const std::uint64_t now = firewall.Used().all;
    const bool busy = now - used > std::chrono::nanoseconds(kStep).count() / 50;
    used = now;
    idle = busy ? 0 : idle + 1;
    if (busy) lastBusy = Clock::now();
  }
  return lastBusy;
}

// One case, and what its runs added up to.
struct Case {
  const char* name;
  bool flood;
  bool logRule;
  Case* withoutLog;  // the case to compare the latency with
  int runs = 0;
  long sent = 0;
  double sendMs = 0;
  double busyMs = 0;  // from the start until the firewall was idle again
  std::uint64_t copies = 0;
  std::uint64_t listenerBlocks = 0;
  std::uint64_t entries = 0;  // after the last run
  Cpu cpu{};
  Queued queued{};
  Latency latency{};
};

// One run of `run`: the flood (or none) from B, and meanwhile the timed connections. The
// firewall's processor time counts until it is idle again, without the connections that
// wait for a retransmission after that.
void RunOnce(Case& run, const NetnsPair& netns, const FirewallProcess& firewall, const std::vector<Datagram>& flood) {
  if (run.logRule) CountedDropLog(netns.A());
  if (!run.logRule) FlushDropLog(netns.A());
  const std::uint64_t listenerBefore = firewall.Record().listenerBlocks;
  std::atomic<bool> sending{run.flood};
  const int begunBefore = run.latency.begun;
  const Cpu before = firewall.Used();
  const Queued queuedBefore = firewall.Queue();
  const auto start = Clock::now();
  std::thread timing([&] {
    InNamespaceThread(netns.B(), [&] {
      TimePacedConnections(
          [&](int begun) { return run.flood ? sending.load() : begun - begunBefore < kBaselineConnections; },
          &run.latency);
    });
  });
  if (run.flood) {
    InNamespaceThread(netns.B(), [&] { run.sent += SendFlood(flood); });
    run.sendMs += Ms(Clock::now() - start);
    sending = false;
  }
  const auto idle = WaitUntilIdle(firewall);
  run.cpu = run.cpu + (firewall.Used() - before);
  const Queued queued = firewall.Queue();
  run.queued.packets += queued.packets - queuedBefore.packets;
  run.queued.fullDrops += queued.fullDrops - queuedBefore.fullDrops;
  run.busyMs += Ms(idle - start);
  timing.join();
  run.copies += run.logRule ? CopiesSent(netns.A()) : 0;
  const Kept kept = firewall.Record();
  run.listenerBlocks += kept.listenerBlocks - listenerBefore;
  run.entries = kept.entries;
  ++run.runs;
}

double Ratio(Samples& ms, Samples& base, double share) {
  return ms.Percentile(share) / std::max(base.Percentile(share), 1e-3);
}

void PrintHeader() {
  const char* format = "%-19s %7s %6s %6s %7s %7s %6s %7s %8s %6s %6s %6s %10s %7s %7s %6s\n";
  std::printf("\n");
  std::printf(format, "", "sent", "send", "busy", "queued", "queue", "log", "kept", "listener", "cpu", "verdict",
              "drop", "conns", "median", "p99", "ratio");
  std::printf(format, "case (sum of runs)", "packets", "ms", "ms", "packets", "full", "copies", "entries", "blocks",
              "%core", "thr %", "log %", "(failed)", "ms", "ms", "no-log");
}

void PrintRows(std::vector<Case>& cases) {
  for (Case& run : cases) {
    const double percent = std::max(run.busyMs, 1.0) * 1e6 / 100;  // ns in 1% of a core over the busy time
    const std::string conns = std::to_string(run.latency.begun) + "(" + std::to_string(run.latency.failed) + ")";
    const std::string ratio =
        run.withoutLog ? std::to_string(Ratio(run.latency.ms, run.withoutLog->latency.ms, 0.5)) : "-";
    std::printf("%-19s %7ld %6.0f %6.0f %7llu %7llu %6s %7llu %8llu %6.1f %6.1f %6.1f %10s %7.2f %7.2f %6.4s\n",
                run.name, run.sent, run.sendMs, run.busyMs, static_cast<unsigned long long>(run.queued.packets),
                static_cast<unsigned long long>(run.queued.fullDrops),
                run.logRule ? std::to_string(run.copies).c_str() : "-", static_cast<unsigned long long>(run.entries),
                static_cast<unsigned long long>(run.listenerBlocks), run.cpu.all / percent, run.cpu.verdicts / percent,
                run.cpu.dropLog / percent, conns.c_str(), run.latency.ms.Percentile(0.5),
                run.latency.ms.Percentile(0.99), ratio.c_str());
  }
}

// The budgets, for a flood with the log rule against one without.
void PrintBudgets(const char* world, Case& logged, Case& unlogged) {
  const double median = Ratio(logged.latency.ms, unlogged.latency.ms, 0.5);
  const double p99 = Ratio(logged.latency.ms, unlogged.latency.ms, 0.99);
  const double share = logged.cpu.all / (std::max(logged.busyMs, 1.0) * 1e6) * 100;
  std::printf("%s: latency with the log rule within 2x of without: median x%.2f, p99 x%.2f%s\n", world, median, p99,
              median <= 2 && p99 <= 2 ? "" : "  OVER BUDGET");
  std::printf("%s: firewall process CPU <= 20%% of one core during the flood with the log rule: %.1f%%%s\n", world,
              share, share <= 20 ? "" : "  OVER BUDGET");
}

// The cases in turns, kRounds times, so that what else the machine does falls on each alike.
void RunRounds(std::vector<Case>& cases, const NetnsPair& netns, const FirewallProcess& firewall,
               const std::vector<Datagram>& flood) {
  for (int round = 1; round <= kRounds; ++round) {
    std::printf("%s: round %d of %d\n", cases.front().name, round, kRounds);
    std::fflush(stdout);
    for (Case& run : cases) RunOnce(run, netns, firewall, flood);
  }
}

}  // namespace

int main() {
  if (const std::string problem = NamespaceTestProblem(); !problem.empty()) {
    std::printf("blocked-flood benchmark skipped: %s\n", problem.c_str());
    return 0;
  }
  HoldInterrupts();
  const NetnsPair netns;
  if (!netns.Problem().empty()) {
    std::printf("blocked-flood benchmark skipped: %s\n", netns.Problem().c_str());
    return 0;
  }
  const BenchDir dir;
  const std::string folder = std::filesystem::path(dir.Database()).parent_path();
  g_namespaces = {netns.A(), netns.B()};
  g_folder = folder;
  CleanUpWhenInterrupted();
  const std::string authorized = folder + "/authorized/echo";
  if (!EchoProcess::CopyTo(authorized)) Fail("copying the echo server");

  const FirewallProcess firewall(netns.A(), dir.Database(), authorized);
  if (!firewall.Problem().empty()) {
    std::printf("blocked-flood benchmark skipped: %s\n", firewall.Problem().c_str());
    return 0;
  }
  std::unique_ptr<EchoProcess> server;
  std::unique_ptr<UnlistedListeners> unauthorized;
  {
    const InNamespace inA(netns.A());
    if (!inA.Entered()) Fail("entering namespace A");
    server = std::make_unique<EchoProcess>(authorized, kA, kAuthorizedPort);
    unauthorized = std::make_unique<UnlistedListeners>(folder, 1, kUnauthorizedPort);
  }
  if (!server->Serving()) Fail("starting the authorized echo server");
  Samples warming;  // the server's socket and its holder become known to the verdicts
  TimeConnections(netns.B(), kAuthorizedPort, 20, &warming);

  const std::vector<Datagram> flood = FloodDatagrams();
  // The verdicts let the server in; then its port does, so that the flood reaches the log rule.
  std::vector<Case> verdicts = {{"no flood", false, true, nullptr},
                                {"flood, log rule", true, true, nullptr},
                                {"flood, no log rule", true, false, nullptr}};
  std::vector<Case> ports = {{"port: no flood", false, true, nullptr},
                             {"port: flood, log", true, true, nullptr},
                             {"port: flood, no log", true, false, nullptr}};
  verdicts[1].withoutLog = &verdicts[2];
  ports[1].withoutLog = &ports[2];
  RunRounds(verdicts, netns, firewall, flood);
  firewall.LetInByPort();
  RunRounds(ports, netns, firewall, flood);
  PrintHeader();
  PrintRows(verdicts);
  PrintRows(ports);
  std::printf("\n");
  PrintBudgets("program authorized (verdicts)", verdicts[1], verdicts[2]);
  PrintBudgets("nothing authorized, open port", ports[1], ports[2]);
  return 0;
}
