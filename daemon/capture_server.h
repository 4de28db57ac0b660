#pragma once
// Capture for clients that may not capture themselves: each capture runs on a thread of its
// own and writes the datagrams of its address on a SOCK_SEQPACKET socket pair whose other end
// the client holds, as many to a message as came in together (see DatagramBatch). The service
// never waits for a client: a message that does not fit in the socket's buffer is dropped and
// its datagrams counted. A capture stops when its client closes its end, or dies.
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

#include "monitor/capture_source.h"

class CaptureServer {
 public:
  // Captures at once, per client (a bus name) and in all.
  static constexpr std::size_t kMaxPerClient = 4;
  static constexpr std::size_t kMaxInAll = 16;
  // Room a client has for datagrams it has not read yet.
  static constexpr int kSocketBuffer = 2 << 20;

  // Captures through `sources` (live capture when empty).
  explicit CaptureServer(ws::SourceFactory sources = {});
  // Stops every capture.
  ~CaptureServer();
  CaptureServer(const CaptureServer&) = delete;
  CaptureServer& operator=(const CaptureServer&) = delete;

  // Starts capturing `address` (network order) for `client`. Returns 0 with the client's
  // end of the socket pair (the caller owns it) and the capture's number, or a Winsock
  // error: the source's own (WSAEADDRNOTAVAIL for an address that is not local), or
  // WSAEMFILE when `client` or the service has too many captures.
  int Open(const std::string& client, std::uint32_t address, int* socket, std::uint32_t* capture);
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
  int m_hangups;  // epoll: the service's end of every socket pair, and m_quit
  int m_quit;     // eventfd that ends Watch
  mutable std::mutex m_mutex;
  std::map<std::uint32_t, std::unique_ptr<Capture>> m_captures;
  std::uint32_t m_next = 1;
  std::thread m_watcher;
};
