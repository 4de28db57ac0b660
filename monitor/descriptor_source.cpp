#include "monitor/descriptor_source.h"

#include "monitor/winsock.h"

#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

namespace ws {

DescriptorSource::DescriptorSource(int socket) : m_socket(socket) {}

DescriptorSource::~DescriptorSource() {
  if (const int socket = m_socket.load(); socket >= 0) ::close(socket);
}

void DescriptorSource::Adopt(int socket) { m_socket = socket; }

int DescriptorSource::Receive(std::uint8_t* buffer, std::uint32_t capacity, std::uint32_t& received) {
  const int socket = m_socket.load();
  for (;;) {
    if (m_woken || socket < 0) return WSAEDISCON;
    // A message longer than the buffer is cut to it, as a datagram socket does.
    const ssize_t n = ::recv(socket, buffer, capacity, MSG_TRUNC);
    if (n > 0) {
      received = static_cast<std::uint32_t>(std::min<std::size_t>(static_cast<std::size_t>(n), capacity));
      return 0;
    }
    if (n < 0 && errno == EINTR) continue;
    // End of stream: a wake-up shut our side, or the peer ended the capture.
    return m_woken ? WSAEDISCON : WSAENETDOWN;
  }
}

void DescriptorSource::Wake() {
  m_woken = true;
  // Shutting our side for reading makes a blocked or later recv return at once.
  if (const int socket = m_socket.load(); socket >= 0) ::shutdown(socket, SHUT_RD);
}

}  // namespace ws
