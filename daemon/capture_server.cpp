#include "daemon/capture_server.h"

#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <vector>

#include "monitor/datagram_batch.h"
#include "monitor/pcap_source.h"
#include "monitor/winsock.h"

struct CaptureServer::Capture {
  std::string client;
  uid_t uid = 0;
  std::unique_ptr<ws::CaptureSource> source;
  int socket = -1;  // the service's end of the pair
  std::atomic<std::uint64_t> dropped{0};
  std::thread thread;
};

namespace {

constexpr std::uint32_t kLargestDatagram = 0xFFFF;
// The number that Watch's wake-up carries; captures are numbered from 1.
constexpr std::uint32_t kQuit = 0;

// Whether a send that failed with `error` lost only its message: the client reads too slowly.
bool OnlyThisMessageLost(int error) {
  return error == EAGAIN || error == EWOULDBLOCK || error == ENOBUFS || error == ENOMEM || error == EINTR;
}

// Sends the batch as one message and empties it; false once the client is gone.
bool Send(int socket, ws::DatagramBatch& batch, std::atomic<std::uint64_t>& dropped) {
  const auto message = batch.Message();
  const bool sent = send(socket, message.data(), message.size(), MSG_DONTWAIT | MSG_NOSIGNAL) >= 0;
  const bool goesOn = sent || OnlyThisMessageLost(errno);
  if (!sent && goesOn) dropped.fetch_add(batch.Count(), std::memory_order_relaxed);
  batch.Clear();
  return goesOn;
}

// What a source's refusal, a Winsock error, means to the client.
Status SourceRefusal(int error) {
  switch (error) {
    case ws::WSAEADDRNOTAVAIL: return InvalidArgument("the address is not one of this machine's");
    case ws::WSAEACCES: return AccessDenied("the service may not capture");
    case ws::WSAESOCKTNOSUPPORT: return Failed("this system offers no packet capture");
    default: return Failed("the interface cannot be captured (Winsock error " + std::to_string(error) + ")");
  }
}

}  // namespace

CaptureServer::CaptureServer(ws::SourceFactory sources)
    : m_sources(sources ? std::move(sources) : [] { return std::make_unique<ws::PcapSource>(); }),
      m_hangups(epoll_create1(EPOLL_CLOEXEC)),
      m_quit(eventfd(0, EFD_CLOEXEC)) {
  epoll_event quit{};
  quit.events = EPOLLIN;
  quit.data.u32 = kQuit;
  if (m_hangups < 0 || m_quit < 0 || epoll_ctl(m_hangups, EPOLL_CTL_ADD, m_quit, &quit) != 0) {
    m_failure = std::string("the capture server cannot watch its clients: ") + std::strerror(errno);
    return;
  }
  m_watcher = std::thread(&CaptureServer::Watch, this);
}

CaptureServer::~CaptureServer() {
  if (m_watcher.joinable()) {
    eventfd_write(m_quit, 1);
    m_watcher.join();
  }
  for (auto& [number, capture] : m_captures) Stop(std::move(capture));
  if (m_quit >= 0) close(m_quit);
  if (m_hangups >= 0) close(m_hangups);
}

Result<CaptureServer::Opened> CaptureServer::Open(const std::string& client, uid_t uid, std::uint32_t address) {
  if (!m_failure.empty()) return Failed(m_failure);
  std::lock_guard lock(m_mutex);
  std::size_t own = 0;
  for (const auto& [n, capture] : m_captures) own += capture->uid == uid;
  if (own >= kMaxPerUser)
    return Busy("uid " + std::to_string(uid) + " has " + std::to_string(kMaxPerUser) + " captures already");
  if (m_captures.size() >= kMaxInAll)
    return Busy("the service runs " + std::to_string(kMaxInAll) + " captures already");

  auto capture = std::make_unique<Capture>();
  capture->client = client;
  capture->uid = uid;
  capture->source = m_sources();
  int error = capture->source->Open();
  if (error == 0) error = capture->source->Bind(address);
  if (error == 0) error = capture->source->Start();
  if (error != 0) return SourceRefusal(error);
  int pair[2];
  if (socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0, pair) != 0) {
    const int failure = errno;
    const std::string reason = std::string("no socket pair for the capture: ") + std::strerror(failure);
    return failure == EMFILE || failure == ENFILE ? Busy(reason) : Failed(reason);
  }
  // Datagrams wait in the sender's buffer until the client reads them. The service may go
  // past the system's default size; anyone else gets what the system allows.
  if (setsockopt(pair[0], SOL_SOCKET, SO_SNDBUFFORCE, &kSocketBuffer, sizeof kSocketBuffer) != 0)
    setsockopt(pair[0], SOL_SOCKET, SO_SNDBUF, &kSocketBuffer, sizeof kSocketBuffer);
  capture->socket = pair[0];

  Opened opened{.socket = pair[1]};
  do {
    opened.capture = m_next++;
  } while (opened.capture == kQuit || m_captures.count(opened.capture));
  // Hang-ups and errors are reported whatever the events asked for.
  epoll_event hangup{};
  hangup.data.u32 = opened.capture;
  epoll_ctl(m_hangups, EPOLL_CTL_ADD, pair[0], &hangup);
  capture->thread = std::thread(Pump, std::ref(*capture));
  m_captures.emplace(opened.capture, std::move(capture));
  return opened;
}

std::optional<std::uint64_t> CaptureServer::Dropped(const std::string& client, std::uint32_t number) const {
  std::lock_guard lock(m_mutex);
  const auto it = m_captures.find(number);
  if (it == m_captures.end() || it->second->client != client) return std::nullopt;
  return it->second->dropped.load();
}

std::size_t CaptureServer::Running() const {
  std::lock_guard lock(m_mutex);
  return m_captures.size();
}

void CaptureServer::Pump(Capture& capture) {
  std::vector<std::uint8_t> datagram(kLargestDatagram);
  std::uint32_t length = 0;
  ws::DatagramBatch batch;
  bool clientThere = true;
  // Waits for a datagram; then takes, into the same message, what has come meanwhile.
  int error = capture.source->Receive(datagram.data(), kLargestDatagram, length);
  while (error == 0 && clientThere) {
    if (!batch.Fits(length)) clientThere = Send(capture.socket, batch, capture.dropped);
    batch.Add(datagram.data(), length);
    error = capture.source->ReceiveReady(datagram.data(), kLargestDatagram, length);
    if (error == ws::WSAEWOULDBLOCK) {
      clientThere = clientThere && Send(capture.socket, batch, capture.dropped);
      error = capture.source->Receive(datagram.data(), kLargestDatagram, length);
    }
  }
  if (clientThere && batch.Count() != 0) Send(capture.socket, batch, capture.dropped);
  // The client reads what was sent, then the end of the capture.
  shutdown(capture.socket, SHUT_WR);
}

void CaptureServer::ClientGone(const std::string& client) {
  std::vector<std::unique_ptr<Capture>> gone;
  {
    std::lock_guard lock(m_mutex);
    for (auto it = m_captures.begin(); it != m_captures.end();) {
      if (it->second->client == client) {
        gone.push_back(std::move(it->second));
        it = m_captures.erase(it);
      } else {
        ++it;
      }
    }
  }
  for (auto& capture : gone) Stop(std::move(capture));
}

void CaptureServer::Watch() {
  for (;;) {
    epoll_event events[16];
    const int count = epoll_wait(m_hangups, events, 16, -1);
    for (int i = 0; i < count; ++i) {
      if (events[i].data.u32 == kQuit) return;
      std::unique_ptr<Capture> capture;
      {
        std::lock_guard lock(m_mutex);
        const auto it = m_captures.find(events[i].data.u32);
        if (it == m_captures.end()) continue;
        capture = std::move(it->second);
        m_captures.erase(it);
      }
      Stop(std::move(capture));
    }
  }
}

void CaptureServer::Stop(std::unique_ptr<Capture> capture) {
  capture->source->Wake();
  capture->thread.join();
  close(capture->socket);  // which also takes it out of the epoll set
}
