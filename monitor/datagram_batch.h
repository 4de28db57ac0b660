#pragma once
// Datagrams handed from the service to a window, several to a message of the SOCK_SEQPACKET
// socket: each datagram is its length (two bytes, in the host's order: both ends are on one
// machine) followed by its bytes. A message per datagram would cost the kernel more than the
// window spends decoding and logging the datagram; a message carries whatever came in
// together, so a quiet capture still sends each datagram at once.
#include <cstdint>
#include <span>
#include <vector>

namespace ws {

class DatagramBatch {
 public:
  // A message grows past this only by its first datagram, to at most kLargestMessage.
  static constexpr std::size_t kLimit = 64 * 1024;
  static constexpr std::size_t kLargestMessage = 2 + 0xFFFF;

  // Whether a datagram of `length` bytes can join the message; the first always can.
  bool Fits(std::uint32_t length) const { return m_count == 0 || m_bytes.size() + 2 + length <= kLimit; }
  // Adds a datagram of at most 0xFFFF bytes.
  void Add(const std::uint8_t* datagram, std::uint32_t length);
  std::span<const std::uint8_t> Message() const { return m_bytes; }
  std::uint32_t Count() const { return m_count; }
  void Clear();

 private:
  std::vector<std::uint8_t> m_bytes;
  std::uint32_t m_count = 0;
};

// Takes the next datagram off the front of `message`; false at the message's end, or where
// a length runs past it (the rest of the message is then left unread).
bool TakeDatagram(std::span<const std::uint8_t>& message, std::span<const std::uint8_t>* datagram);

}  // namespace ws
