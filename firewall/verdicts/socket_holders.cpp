#include "firewall/verdicts/socket_holders.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/eventfd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <concepts>
#include <cstring>
#include <string_view>
#include <unordered_set>

namespace {

// How many sockets' holders are remembered for each user; past that the memory of that
// user's sockets starts afresh, so that no user can make the others' be forgotten.
constexpr std::size_t kMostRemembered = 4096;
constexpr auto kLookAgainAfter = std::chrono::seconds(1);
constexpr std::string_view kSocketLink = "socket:[";

// A short text built without allocating: "PID/fd/N", numbers, words.
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

 private:
  char m_text[64] = "";
  std::size_t m_size = 0;
};

template <class Number>
bool ReadNumber(std::string_view text, Number* number) {
  const auto [stop, error] = std::from_chars(text.data(), text.data() + text.size(), *number);
  return error == std::errc() && stop == text.data() + text.size() && !text.empty();
}

// The inode of the socket that link `name` (relative to `directory`) names; 0 for anything
// else.
std::uint64_t SocketOf(int directory, const char* name) {
  char target[64];
  const ssize_t size = readlinkat(directory, name, target, sizeof target);
  const std::string_view link(target, size > 0 ? static_cast<std::size_t>(size) : 0);
  std::uint64_t inode = 0;
  if (!link.starts_with(kSocketLink) || !link.ends_with(']')) return 0;
  return ReadNumber(link.substr(kSocketLink.size(), link.size() - kSocketLink.size() - 1), &inode) ? inode : 0;
}

}  // namespace

SocketHolders::SocketHolders(std::string proc)
    : m_proc(std::move(proc)), m_published(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {
  // Since Linux 6.2 the size of a process's descriptor folder is how many it holds; before,
  // it is 0 for every process, this one too.
  struct stat status;
  m_countsDescriptors = stat((m_proc + "/self/fd").c_str(), &status) == 0 && status.st_size > 0;
}

SocketHolders::~SocketHolders() {
  {
    const std::lock_guard lock(m_mutex);
    m_stop = true;
  }
  m_wake.notify_one();
  if (m_worker.joinable()) m_worker.join();
  if (m_published >= 0) close(m_published);
}

void SocketHolders::Acknowledge() {
  std::uint64_t count;
  while (read(m_published, &count, sizeof count) < 0 && errno == EINTR) {
  }
}

std::uint64_t SocketHolders::Generation() {
  const std::lock_guard lock(m_mutex);
  return m_generation;
}

std::optional<SocketHolders::Found> SocketHolders::Holders(const ReceivingSocket& socket, std::uint64_t since) {
  Descriptors remembered;
  std::uint64_t generation;
  Found found;
  {
    const std::lock_guard lock(m_mutex);
    const auto known = m_holdings.find(socket.inode);
    if (known == m_holdings.end()) {
      Want(socket.inode, {socket.owner, false});
      return std::nullopt;
    }
    const Holding& holding = known->second;
    remembered = holding.descriptors;
    generation = holding.generation;
    found.everywhere = holding.everywhere;
    if (std::chrono::steady_clock::now() - holding.foundAt >= kLookAgainAfter)
      Want(socket.inode, {socket.owner, holding.everywhere});
  }
  for (const auto& [pid, fd] : remembered)
    if (Holds(pid, fd, socket.inode)) found.pids.push_back(pid);
  // Every holder left: the socket was handed on (socket activation, a server's workers).
  if (found.pids.empty() && generation <= since) {
    const std::lock_guard lock(m_mutex);
    Want(socket.inode, {socket.owner, false});
    return std::nullopt;
  }
  return found;
}

void SocketHolders::LookEverywhere(const ReceivingSocket& socket) {
  const std::lock_guard lock(m_mutex);
  Want(socket.inode, {socket.owner, true});
}

void SocketHolders::Want(std::uint64_t inode, Request request) {
  const auto [wanted, added] = m_wanted.emplace(inode, request);
  wanted->second.everywhere = wanted->second.everywhere || request.everywhere;
  m_more = true;
  if (!m_worker.joinable()) {
    // Signals stay with the threads that expect them.
    sigset_t all, before;
    sigfillset(&all);
    pthread_sigmask(SIG_BLOCK, &all, &before);
    m_worker = std::thread(&SocketHolders::Run, this);
    pthread_sigmask(SIG_SETMASK, &before, nullptr);
  }
  m_wake.notify_one();
}

void SocketHolders::Run() {
  std::unique_lock lock(m_mutex);
  for (;;) {
    m_wake.wait(lock, [this] { return m_stop || !m_wanted.empty(); });
    if (m_stop) return;
    Wanted wanted = std::move(m_wanted);
    m_wanted.clear();
    const std::uint64_t generation = ++m_generation;
    lock.unlock();
    std::unordered_map<std::uint64_t, Descriptors> found = Scan(wanted);
    const auto now = std::chrono::steady_clock::now();
    lock.lock();
    for (const auto& [inode, request] : wanted)
      Remember(inode, {std::move(found[inode]), request.everywhere, generation, now, request.owner});
    const std::uint64_t one = 1;
    while (write(m_published, &one, sizeof one) < 0 && errno == EINTR) {
    }
  }
}

void SocketHolders::Remember(std::uint64_t inode, Holding holding) {
  const auto known = m_holdings.find(inode);
  if (known != m_holdings.end()) {
    holding.owner = known->second.owner;  // counted already
    known->second = std::move(holding);
    return;
  }
  std::size_t& count = m_remembered[holding.owner];
  if (count >= kMostRemembered) {
    std::erase_if(m_holdings, [&](const auto& entry) { return entry.second.owner == holding.owner; });
    count = 0;
  }
  ++count;
  m_holdings.emplace(inode, std::move(holding));
}

SocketHolders::Looking SocketHolders::Looks(const Wanted& wanted) {
  // A socket is held by processes of the user that made it, and by those it was handed to,
  // which only that user or root could choose; /proc/PID belongs to a process's effective
  // user. So a socket is looked for among the processes of its user and root's; among all
  // only when asked (a socket that root made for a service of another user, as socket
  // activation does).
  Looking looking;
  for (const auto& [inode, request] : wanted) {
    looking.owners.insert(request.owner);
    looking.everyone = looking.everyone || request.everywhere;
  }
  return looking;
}

std::unordered_map<std::uint64_t, SocketHolders::Descriptors> SocketHolders::Scan(Wanted& wanted) {
  std::unordered_map<std::uint64_t, Descriptors> found;
  const int processes = open(m_proc.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  DIR* listing = processes >= 0 ? fdopendir(dup(processes)) : nullptr;
  if (!listing) {
    if (processes >= 0) close(processes);
    return found;
  }
  // Sockets asked for during the pass join it, and are looked for afterwards in the
  // processes it had passed: none waits for more than one pass.
  std::vector<pid_t> passed;
  Wanted joined;
  std::size_t joinedAt = 0;
  Looking looking = Looks(wanted);
  while (const dirent* process = readdir(listing)) {
    pid_t pid;
    if (m_stop) break;  // nothing will be published
    if (!ReadNumber(std::string_view(process->d_name), &pid)) continue;
    if (m_more.exchange(false)) {
      const std::lock_guard lock(m_mutex);
      for (auto asked = m_wanted.begin(); asked != m_wanted.end();) {
        // One already in this pass, asked again to be looked for everywhere, waits for the next.
        if (wanted.count(asked->first) != 0) {
          ++asked;
          continue;
        }
        wanted.insert(*asked);
        joined.insert(*asked);
        asked = m_wanted.erase(asked);
      }
      joinedAt = passed.size();
      looking = Looks(wanted);
    }
    passed.push_back(pid);
    Look(processes, pid, wanted, looking, &found);
  }
  closedir(listing);
  const Looking late = Looks(joined);
  for (std::size_t i = 0; i < joinedAt && !m_stop; ++i) Look(processes, passed[i], joined, late, &found);
  close(processes);
  return found;
}

void SocketHolders::Look(int processes, pid_t pid, const Wanted& wanted, const Looking& looking,
                         std::unordered_map<std::uint64_t, Descriptors>* found) const {
  // Pid 1, the service manager, counts neither way (see AppVerdicts); it may hold hundreds.
  if (pid == 1) return;
  const ShortText name = ShortText() << pid;
  struct stat status;
  if (!looking.everyone && (fstatat(processes, name.c_str(), &status, 0) != 0 ||
                            (status.st_uid != 0 && looking.owners.count(status.st_uid) == 0)))
    return;
  const ShortText descriptorsName = ShortText() << pid << "/fd";
  // Kernel threads, half the processes of a quiet machine, hold nothing.
  if (m_countsDescriptors && fstatat(processes, descriptorsName.c_str(), &status, 0) == 0 && status.st_size == 0)
    return;
  const int directory = openat(processes, descriptorsName.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (directory < 0) return;
  DIR* descriptors = fdopendir(directory);
  if (!descriptors) {
    close(directory);
    return;
  }
  while (const dirent* descriptor = readdir(descriptors)) {
    int fd;
    if (!ReadNumber(std::string_view(descriptor->d_name), &fd)) continue;
    const std::uint64_t inode = SocketOf(directory, descriptor->d_name);
    if (inode == 0 || wanted.count(inode) == 0) continue;
    Descriptors& holders = (*found)[inode];
    if (std::none_of(holders.begin(), holders.end(), [pid](auto& holder) { return holder.first == pid; }))
      holders.emplace_back(pid, fd);
  }
  closedir(descriptors);
}

bool SocketHolders::Holds(pid_t pid, int fd, std::uint64_t inode) const {
  const std::string name = m_proc + (ShortText() << "/" << pid << "/fd/" << fd).c_str();
  return SocketOf(AT_FDCWD, name.c_str()) == inode;
}

std::optional<FileId> SocketHolders::Executable(pid_t pid) const {
  struct stat status;
  const std::string name = m_proc + (ShortText() << "/" << pid << "/exe").c_str();
  if (stat(name.c_str(), &status) != 0 || status.st_nlink == 0) return std::nullopt;
  return FileId{status.st_dev, status.st_ino};
}

bool SocketHolders::Traced(pid_t pid) const {
  const std::string name = m_proc + (ShortText() << "/" << pid << "/status").c_str();
  const int fd = open(name.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return true;
  // The line comes before the first kilobyte: its name is at most 64 bytes and the lines
  // before it are numbers.
  char text[1024];
  const ssize_t size = read(fd, text, sizeof text);
  close(fd);
  const std::string_view status(text, size > 0 ? static_cast<std::size_t>(size) : 0);
  constexpr std::string_view kTracer = "\nTracerPid:\t";
  const std::size_t at = status.find(kTracer);
  if (at == std::string_view::npos) return true;
  const std::string_view value = status.substr(at + kTracer.size());
  return value.substr(0, value.find('\n')) != "0";
}
