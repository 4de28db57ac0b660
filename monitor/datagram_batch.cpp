#include "monitor/datagram_batch.h"

#include <cstring>

namespace ws {

void DatagramBatch::Add(const std::uint8_t* datagram, std::uint32_t length) {
  const auto size = static_cast<std::uint16_t>(length);
  const std::size_t at = m_bytes.size();
  m_bytes.resize(at + sizeof size + size);
  std::memcpy(m_bytes.data() + at, &size, sizeof size);
  std::memcpy(m_bytes.data() + at + sizeof size, datagram, size);
  ++m_count;
}

void DatagramBatch::Clear() {
  m_bytes.clear();
  m_count = 0;
}

bool TakeDatagram(std::span<const std::uint8_t>& message, std::span<const std::uint8_t>* datagram) {
  std::uint16_t size;
  if (message.size() < sizeof size) return false;
  std::memcpy(&size, message.data(), sizeof size);
  if (message.size() - sizeof size < size) return false;
  *datagram = message.subspan(sizeof size, size);
  message = message.subspan(sizeof size + size);
  return true;
}

}  // namespace ws
