#include "monitor/winsock.h"

#include "monitor/pcap_source.h"
#include "monitor/text_format.h"

#include <arpa/inet.h>

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>

namespace ws {
namespace {

struct Socket {
  std::unique_ptr<CaptureSource> source;
  bool bound = false;
  bool receiveAll = false;
};

// Sockets are shared so that shutdown() from another thread can wake a receive while the
// owning thread closes the socket: the last holder frees it.
struct Registry {
  std::mutex mutex;
  std::map<SOCKET, std::shared_ptr<Socket>> sockets;
  SOCKET next = 1;
  int startups = 0;
  SourceFactory factory;
};

Registry& registry() {
  static Registry r;
  return r;
}

thread_local int lastError = 0;

int fail(int error) {
  lastError = error;
  return SOCKET_ERROR;
}

std::shared_ptr<Socket> find(SOCKET s) {
  Registry& r = registry();
  std::lock_guard lock(r.mutex);
  auto it = r.sockets.find(s);
  return it == r.sockets.end() ? nullptr : it->second;
}

}  // namespace

int CaptureSource::ReceiveReady(std::uint8_t*, std::uint32_t, std::uint32_t&) { return WSAEWOULDBLOCK; }

int CaptureSource::NextDatagram(std::span<std::uint8_t> scratch, bool wait, std::span<const std::uint8_t>& datagram) {
  const auto capacity = static_cast<std::uint32_t>(std::min<std::size_t>(scratch.size(), UINT32_MAX));
  std::uint32_t received = 0;
  const int error =
      wait ? Receive(scratch.data(), capacity, received) : ReceiveReady(scratch.data(), capacity, received);
  if (error == 0) datagram = scratch.first(received);
  return error;
}

int CaptureSource::CopyNextDatagram(std::uint8_t* buffer, std::uint32_t capacity, std::uint32_t& received, bool wait) {
  std::span<const std::uint8_t> datagram;
  if (const int error = NextDatagram({}, wait, datagram)) return error;
  received = static_cast<std::uint32_t>(std::min<std::size_t>(datagram.size(), capacity));
  std::memcpy(buffer, datagram.data(), received);
  return 0;
}

int CaptureSource::ReceiveBatch(std::span<std::uint8_t> scratch, const DatagramTaker& take) {
  std::span<const std::uint8_t> datagram;
  if (const int error = NextDatagram(scratch, true, datagram)) return error;
  // An error after the first datagram (the end of a capture, say) comes again with the
  // next call.
  for (unsigned taken = 1; take(datagram) && taken < kBatchLimit; ++taken)
    if (NextDatagram(scratch, false, datagram) != 0) break;
  return 0;
}

void SetSourceFactory(SourceFactory factory) {
  Registry& r = registry();
  std::lock_guard lock(r.mutex);
  r.factory = std::move(factory);
}

int WSAStartup(std::uint16_t versionRequested, WSADATA* data) {
  // Version 2.2 is the only one this facade speaks; like Winsock, a request for a
  // higher minor version is answered with 2.2.
  const int major = versionRequested & 0xFF, minor = versionRequested >> 8;
  if (major < 2 || (major == 2 && minor < 2)) return WSAVERNOTSUPPORTED;
  if (data == nullptr) return WSAEFAULT;
  *data = WSADATA{};
  data->wVersion = data->wHighVersion = 0x0202;
  std::char_traits<char>::copy(data->szDescription, "libpcap capture", 15);
  std::char_traits<char>::copy(data->szSystemStatus, "Running", 7);
  Registry& r = registry();
  std::lock_guard lock(r.mutex);
  ++r.startups;
  return 0;
}

int WSACleanup() {
  Registry& r = registry();
  std::lock_guard lock(r.mutex);
  if (r.startups == 0) return fail(WSANOTINITIALISED);
  --r.startups;
  return 0;
}

int WSAGetLastError() { return lastError; }

SOCKET WSASocketA(int af, int type, int protocol, void*, unsigned, std::uint32_t) {
  Registry& r = registry();
  SourceFactory factory;
  {
    std::lock_guard lock(r.mutex);
    if (r.startups == 0) {
      lastError = WSANOTINITIALISED;
      return INVALID_SOCKET;
    }
    factory = r.factory;
  }
  if (af != AF_INET) {
    lastError = WSAEAFNOSUPPORT;
    return INVALID_SOCKET;
  }
  if (type != SOCK_RAW || protocol != 0) {
    lastError = WSAESOCKTNOSUPPORT;
    return INVALID_SOCKET;
  }
  auto socket = std::make_shared<Socket>();
  socket->source = factory ? factory() : std::make_unique<PcapSource>();
  if (const int error = socket->source->Open()) {
    lastError = error;
    return INVALID_SOCKET;
  }
  std::lock_guard lock(r.mutex);
  const SOCKET s = r.next++;
  r.sockets.emplace(s, std::move(socket));
  return s;
}

int bind(SOCKET s, const sockaddr* name, int nameLength) {
  const auto socket = find(s);
  if (!socket) return fail(WSAENOTSOCK);
  if (name == nullptr || nameLength < static_cast<int>(sizeof(sockaddr_in))) return fail(WSAEFAULT);
  if (socket->bound) return fail(WSAEINVAL);
  if (name->sa_family != AF_INET) return fail(WSAEAFNOSUPPORT);
  const auto* in = reinterpret_cast<const sockaddr_in*>(name);
  if (const int error = socket->source->Bind(in->sin_addr.s_addr)) return fail(error);
  socket->bound = true;
  return 0;
}

int WSAIoctl(SOCKET s, std::uint32_t code, void* in, std::uint32_t inLength, void*, std::uint32_t,
             std::uint32_t* bytesReturned, void*, void*) {
  const auto socket = find(s);
  if (!socket) return fail(WSAENOTSOCK);
  if (code != SIO_RCVALL) return fail(WSAEOPNOTSUPP);
  if (in == nullptr || inLength != sizeof(std::uint32_t)) return fail(WSAEFAULT);
  // Receive-all needs a socket bound to an IPv4 address, as with Winsock.
  if (!socket->bound) return fail(WSAEINVAL);
  std::uint32_t value;
  std::memcpy(&value, in, sizeof value);
  if (value != RCVALL_ON) return fail(WSAEINVAL);
  if (!socket->receiveAll) {
    if (const int error = socket->source->Start()) return fail(error);
    socket->receiveAll = true;
  }
  if (bytesReturned != nullptr) *bytesReturned = 0;
  return 0;
}

int WSARecv(SOCKET s, WSABUF* buffers, std::uint32_t bufferCount, std::uint32_t* received, std::uint32_t* flags, void*,
            void*) {
  const auto socket = find(s);
  if (!socket) return fail(WSAENOTSOCK);
  if (buffers == nullptr || bufferCount != 1 || received == nullptr || flags == nullptr) return fail(WSAEFAULT);
  if (!socket->receiveAll) return fail(WSAEINVAL);
  if (const int error = socket->source->Receive(reinterpret_cast<std::uint8_t*>(buffers->buf), buffers->len, *received))
    return fail(error);
  return 0;
}

int WSARecvBatch(SOCKET s, const WSABUF* buffer, const CaptureSource::DatagramTaker& take) {
  const auto socket = find(s);
  if (!socket) return fail(WSAENOTSOCK);
  if (buffer == nullptr || buffer->buf == nullptr) return fail(WSAEFAULT);
  if (!socket->receiveAll) return fail(WSAEINVAL);
  const std::span scratch(reinterpret_cast<std::uint8_t*>(buffer->buf), buffer->len);
  if (const int error = socket->source->ReceiveBatch(scratch, take)) return fail(error);
  return 0;
}

int shutdown(SOCKET s, int how) {
  const auto socket = find(s);
  if (!socket) return fail(WSAENOTSOCK);
  if (how != SD_RECEIVE) return fail(WSAEINVAL);
  socket->source->Wake();
  return 0;
}

int closesocket(SOCKET s) {
  std::shared_ptr<Socket> socket;
  Registry& r = registry();
  {
    std::lock_guard lock(r.mutex);
    auto it = r.sockets.find(s);
    if (it == r.sockets.end()) return fail(WSAENOTSOCK);
    socket = std::move(it->second);
    r.sockets.erase(it);
  }
  return 0;
}

std::uint32_t inet_addr(const char* text) {
  in_addr address;
  if (text == nullptr || ::inet_pton(AF_INET, text, &address) != 1) return INADDR_NONE;
  return address.s_addr;
}

char* inet_ntoa(in_addr address) {
  thread_local char text[kDottedAddressMax + 1];
  *WriteDottedAddress(text, address.s_addr) = '\0';
  return text;
}

}  // namespace ws
