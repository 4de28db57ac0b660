#include "monitor/descriptor_source.h"

#include "monitor/datagram_batch.h"
#include "monitor/winsock.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace ws {

DescriptorSource::DescriptorSource(int socket)
    : m_socket(socket),
      m_slots(std::make_unique_for_overwrite<std::uint8_t[]>(kBatch * DatagramBatch::kLargestMessage)) {
  for (unsigned i = 0; i < kBatch; ++i) {
    m_vectors[i] = {m_slots.get() + i * DatagramBatch::kLargestMessage, DatagramBatch::kLargestMessage};
    m_messages[i] = {};
    m_messages[i].msg_hdr.msg_iov = &m_vectors[i];
    m_messages[i].msg_hdr.msg_iovlen = 1;
  }
}

DescriptorSource::~DescriptorSource() {
  if (const int socket = m_socket.load(); socket >= 0) ::close(socket);
}

void DescriptorSource::Adopt(int socket) { m_socket = socket; }

bool DescriptorSource::Refill() {
  m_count = m_next = 0;
  const int socket = m_socket.load();
  if (m_woken || socket < 0) return false;
  for (;;) {
    // Blocks for the first message only, then takes what is there.
    const int n = ::recvmmsg(socket, m_messages, kBatch, MSG_WAITFORONE, nullptr);
    if (n > 0) {
      m_count = static_cast<unsigned>(n);
      return true;
    }
    if (n < 0 && errno == EINTR) continue;
    return false;
  }
}

int DescriptorSource::Receive(std::uint8_t* buffer, std::uint32_t capacity, std::uint32_t& received) {
  std::span<const std::uint8_t> datagram;
  while (!TakeDatagram(m_rest, &datagram)) {
    // An empty message is the end of the stream: a wake-up shut our side, or the peer ended
    // the capture.
    if ((m_next == m_count && !Refill()) || m_messages[m_next].msg_len == 0) {
      m_count = m_next = 0;
      m_rest = {};
      return m_woken || m_socket.load() < 0 ? WSAEDISCON : WSAENETDOWN;
    }
    m_rest = {static_cast<const std::uint8_t*>(m_vectors[m_next].iov_base), m_messages[m_next].msg_len};
    ++m_next;
  }
  received = static_cast<std::uint32_t>(std::min<std::size_t>(datagram.size(), capacity));
  std::memcpy(buffer, datagram.data(), received);
  return 0;
}

void DescriptorSource::Wake() {
  m_woken = true;
  // Shutting our side for reading makes a blocked or later receive return at once.
  if (const int socket = m_socket.load(); socket >= 0) ::shutdown(socket, SHUT_RD);
}

}  // namespace ws
