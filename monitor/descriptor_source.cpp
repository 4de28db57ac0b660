#include "monitor/descriptor_source.h"

#include "monitor/winsock.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace ws {

DescriptorSource::DescriptorSource(int socket)
    : m_socket(socket), m_slots(std::make_unique_for_overwrite<std::uint8_t[]>(kBatch * kLargestDatagram)) {
  for (unsigned i = 0; i < kBatch; ++i) {
    m_vectors[i] = {m_slots.get() + i * kLargestDatagram, kLargestDatagram};
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
  // An empty message is the end of the stream: a wake-up shut our side, or the peer ended
  // the capture.
  if ((m_next == m_count && !Refill()) || m_messages[m_next].msg_len == 0) {
    m_count = m_next = 0;
    return m_woken || m_socket.load() < 0 ? WSAEDISCON : WSAENETDOWN;
  }
  const std::uint32_t length = m_messages[m_next].msg_len;
  received = std::min(length, capacity);
  std::memcpy(buffer, m_vectors[m_next].iov_base, received);
  ++m_next;
  return 0;
}

void DescriptorSource::Wake() {
  m_woken = true;
  // Shutting our side for reading makes a blocked or later receive return at once.
  if (const int socket = m_socket.load(); socket >= 0) ::shutdown(socket, SHUT_RD);
}

}  // namespace ws
