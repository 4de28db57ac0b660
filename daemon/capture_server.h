#pragma once
// Capture for clients that may not capture themselves: each capture runs on a thread of its
// own and writes the datagrams of its address on a SOCK_SEQPACKET socket pair whose other end
// the client holds, as many to a message as came in together (see DatagramBatch). The service
// never waits for a client: a message that does not fit in the socket's buffer is dropped and
// its datagrams counted. A capture stops when its client closes its end, or dies, or leaves
// the bus.
#include <sys/types.h>

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

#include "firewall/com/status.h"
#include "monitor/capture_source.h"

class CaptureServer {
 public:
  // Captures at once, per user (however many bus connections it has) and in all.
  static constexpr std::size_t kMaxPerUser = 4;
  static constexpr std::size_t kMaxInAll = 16;
  // Room a client has for datagrams it has not read yet.
  static constexpr int kSocketBuffer = 2 << 20;

  // Captures through `sources` (live capture when empty).
  explicit CaptureServer(ws::SourceFactory sources = {});
  // Why the server cannot capture (its watcher could not be made), or "".
  const std::string& Failure() const { return m_failure; }
  // Stops every capture.
  ~CaptureServer();
  CaptureServer(const CaptureServer&) = delete;
  CaptureServer& operator=(const CaptureServer&) = delete;

  // A capture as its client gets it: its end of the socket pair (the client owns it) and the
  // capture's number.
  struct Opened {
    int socket = -1;
    std::uint32_t capture = 0;
  };
  // Starts capturing `address` (network order) for `client`, a bus name of user `uid`.
  // Fails as an invalid argument for an address that is not local, busy when `uid` or the
  // service has too many captures, access denied when the service may not capture, and
  // failed when the server or the source cannot capture at all.
  Result<Opened> Open(const std::string& client, uid_t uid, std::uint32_t address);
  // Stops every capture of `client`, which has left the bus.
  void ClientGone(const std::string& client);
  // The datagrams dropped so far by `client`'s capture number `capture`; nothing for a
  // capture that is not that client's or that has stopped.
  std::optional<std::uint64_t> Dropped(const std::string& client, std::uint32_t capture) const;
  // Captures whose client still holds its end.
  std::size_t Running() const;

 private:
  struct Capture;

  // Writes the datagrams of `capture` until its source ends or its client is gone.
  static void Pump(Capture& capture);
  // Stops each capture whose client closed its end, until the server goes.
  void Watch();
  void Stop(std::unique_ptr<Capture> capture);

  ws::SourceFactory m_sources;
  std::string m_failure;
  int m_hangups;  // epoll: the service's end of every socket pair, and m_quit
  int m_quit;     // eventfd that ends Watch
  mutable std::mutex m_mutex;
  std::map<std::uint32_t, std::unique_ptr<Capture>> m_captures;
  std::uint32_t m_next = 1;
  std::thread m_watcher;
};
