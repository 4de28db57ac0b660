#include "monitor/descriptor_source.h"

#include "monitor/datagram_batch.h"
#include "monitor/winsock.h"

#include <unistd.h>

#include <cerrno>

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
  return CopyNextDatagram(buffer, capacity, received, true);
}

int DescriptorSource::NextDatagram(std::span<std::uint8_t>, bool wait, std::span<const std::uint8_t>& datagram) {
  while (!TakeDatagram(m_rest, &datagram)) {
    if (m_next == m_count) {
      if (!wait) return WSAEWOULDBLOCK;
      if (!Refill()) return End();
    }
    // An empty message is the end of the stream: a wake-up shut our side, or the peer ended
    // the capture. It is left for a call that waits to report.
    if (m_messages[m_next].msg_len == 0) return wait ? End() : WSAEWOULDBLOCK;
    m_rest = {static_cast<const std::uint8_t*>(m_vectors[m_next].iov_base), m_messages[m_next].msg_len};
    ++m_next;
  }
  return 0;
}

int DescriptorSource::End() {
  m_count = m_next = 0;
  m_rest = {};
  return m_woken || m_socket.load() < 0 ? WSAEDISCON : WSAENETDOWN;
}

void DescriptorSource::Wake() {
  m_woken = true;
  // Shutting our side for reading makes a blocked or later receive return at once.
  if (const int socket = m_socket.load(); socket >= 0) ::shutdown(socket, SHUT_RD);
}

}  // namespace ws
