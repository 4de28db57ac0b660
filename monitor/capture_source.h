#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <span>

namespace ws {

// Where a capture socket's datagrams come from: a live interface, a capture file, or a
// test's script. Every method reports failure as a Winsock error number (0 = success),
// so the socket calls above it can hand the number on unchanged.
class CaptureSource {
 public:
  virtual ~CaptureSource() = default;

  // Socket creation: checks that this source can be used at all (e.g. the right to capture).
  virtual int Open() = 0;
  // Binding: the IPv4 address (network order) whose traffic the source delivers.
  virtual int Bind(std::uint32_t address) = 0;
  // The receive-all switch: starts delivering datagrams of the bound address.
  virtual int Start() = 0;
  // Blocks until one whole IPv4 datagram is copied into `buffer` (at most `capacity`
  // bytes, its length in `received`). Returns WSAEDISCON once the source has ended or
  // has been woken by Wake(), and keeps returning it.
  virtual int Receive(std::uint8_t* buffer, std::uint32_t capacity, std::uint32_t& received) = 0;
  // The same without waiting: WSAEWOULDBLOCK at once when no datagram has come yet. A source
  // that cannot tell says so every time.
  virtual int ReceiveReady(std::uint8_t* buffer, std::uint32_t capacity, std::uint32_t& received);
  // Blocks like Receive until a datagram is there, then hands it and those that are there
  // already (at most kBatchLimit in all) to `take` one by one, in order; `take` returns false
  // to end the batch early. A datagram's bytes are valid only during its call; `scratch`
  // is room for a source that must copy them, cutting longer datagrams to its size. 0 once
  // at least one datagram was handed over; otherwise Receive's error.
  using DatagramTaker = std::function<bool(std::span<const std::uint8_t> datagram)>;
  static constexpr unsigned kBatchLimit = 256;
  virtual int ReceiveBatch(std::span<std::uint8_t> scratch, const DatagramTaker& take);
  // Any thread: makes a blocked or later Receive return WSAEDISCON promptly.
  virtual void Wake() = 0;

 protected:
  // The next datagram, waiting for it like Receive or not at all like ReceiveReady; its bytes
  // stay valid until the next call. By default Receive or ReceiveReady copies it into
  // `scratch`; a source that holds the datagram in memory of its own hands it over there.
  virtual int NextDatagram(std::span<std::uint8_t> scratch, bool wait, std::span<const std::uint8_t>& datagram);
  // Receive (`wait`) or ReceiveReady for a source that overrides NextDatagram: copies the
  // datagram, cut to `capacity` bytes.
  int CopyNextDatagram(std::uint8_t* buffer, std::uint32_t capacity, std::uint32_t& received, bool wait);
};

using SourceFactory = std::function<std::unique_ptr<CaptureSource>()>;

// Chooses the source of every socket created from now on; an empty factory restores live
// capture of the bound address's interface.
void SetSourceFactory(SourceFactory factory);

}  // namespace ws
