#pragma once

#include "monitor/capture_source.h"

#include <sys/socket.h>

#include <atomic>
#include <memory>
#include <span>

namespace ws {

// Datagrams that another process captured, read from a SOCK_SEQPACKET socket: each message
// holds one or more IPv4 datagrams (see DatagramBatch). One system call takes the messages
// that have queued up; a batch hands out their datagrams where they lie, without a copy.
// The peer closing its end ends the capture with WSAENETDOWN once every message sent before
// is read. The source owns the descriptor.
class DescriptorSource : public CaptureSource {
 public:
  explicit DescriptorSource(int socket = -1);
  ~DescriptorSource() override;
  DescriptorSource(const DescriptorSource&) = delete;
  DescriptorSource& operator=(const DescriptorSource&) = delete;

  int Open() override { return 0; }
  int Bind(std::uint32_t) override { return 0; }
  int Start() override { return 0; }
  int Receive(std::uint8_t* buffer, std::uint32_t capacity, std::uint32_t& received) override;
  void Wake() override;

 protected:
  // Takes `socket` as the one to read, once the source has one.
  void Adopt(int socket);
  // Without waiting, only what the last system call received.
  int NextDatagram(std::span<std::uint8_t> scratch, bool wait, std::span<const std::uint8_t>& datagram) override;

 private:
  // One system call takes every message that has queued up, up to kBatch: a call costs
  // about as much as decoding and logging a segment.
  static constexpr unsigned kBatch = 16;
  bool Refill();
  // Forgets what is left and says why the stream ended.
  int End();

  std::atomic<int> m_socket;
  std::atomic<bool> m_woken{false};
  std::unique_ptr<std::uint8_t[]> m_slots;  // kBatch messages of the largest size
  mmsghdr m_messages[kBatch];
  iovec m_vectors[kBatch];
  unsigned m_count = 0, m_next = 0;      // messages received, and the next one to open
  std::span<const std::uint8_t> m_rest;  // the datagrams of the open message not handed out yet
};

}  // namespace ws
