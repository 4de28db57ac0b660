#pragma once

// A small Winsock-like facade over packet capture. The capture loop is written against
// these calls, so its steps and its diagnostics stay those of a raw socket in receive-all
// mode, and every failure arrives as a Winsock error number.

#include "monitor/capture_source.h"

#include <netinet/in.h>
#include <sys/socket.h>

#include <cstdint>

namespace ws {

using SOCKET = std::uintptr_t;
inline constexpr SOCKET INVALID_SOCKET = ~SOCKET{0};
inline constexpr int SOCKET_ERROR = -1;

inline constexpr std::uint32_t WSA_FLAG_OVERLAPPED = 0x01;
inline constexpr std::uint32_t SIO_RCVALL = 0x98000001;
inline constexpr std::uint32_t RCVALL_ON = 1;
inline constexpr int SD_RECEIVE = 0;

inline constexpr int WSAEINTR = 10004;
inline constexpr int WSAEACCES = 10013;
inline constexpr int WSAEFAULT = 10014;
inline constexpr int WSAEINVAL = 10022;
inline constexpr int WSAEMFILE = 10024;
inline constexpr int WSAEWOULDBLOCK = 10035;
inline constexpr int WSAENOTSOCK = 10038;
inline constexpr int WSAESOCKTNOSUPPORT = 10044;
inline constexpr int WSAEOPNOTSUPP = 10045;
inline constexpr int WSAEAFNOSUPPORT = 10047;
inline constexpr int WSAEADDRNOTAVAIL = 10049;
inline constexpr int WSAENETDOWN = 10050;
inline constexpr int WSAVERNOTSUPPORTED = 10092;
inline constexpr int WSANOTINITIALISED = 10093;
inline constexpr int WSAEDISCON = 10101;

struct WSADATA {
  std::uint16_t wVersion = 0;
  std::uint16_t wHighVersion = 0;
  char szDescription[257] = {};
  char szSystemStatus[129] = {};
};

struct WSABUF {
  std::uint32_t len;
  char* buf;
};

int WSAStartup(std::uint16_t versionRequested, WSADATA* data);
int WSACleanup();
int WSAGetLastError();

SOCKET WSASocketA(int af, int type, int protocol, void* protocolInfo, unsigned group, std::uint32_t flags);
int bind(SOCKET s, const sockaddr* name, int nameLength);
int WSAIoctl(SOCKET s, std::uint32_t code, void* in, std::uint32_t inLength, void* out, std::uint32_t outLength,
             std::uint32_t* bytesReturned, void* overlapped, void* completion);
int WSARecv(SOCKET s, WSABUF* buffers, std::uint32_t bufferCount, std::uint32_t* received, std::uint32_t* flags,
            void* overlapped, void* completion);
// Not Winsock's: receives a batch of datagrams (see CaptureSource::ReceiveBatch), each
// handed to `take`, with one look-up of the socket for the whole batch. `buffer` is the
// room for a source that copies. Fails as WSARecv does.
int WSARecvBatch(SOCKET s, const WSABUF* buffer, const CaptureSource::DatagramTaker& take);
// Safe from any thread: a receive blocked on the socket returns WSAEDISCON.
int shutdown(SOCKET s, int how);
int closesocket(SOCKET s);

// Dotted text to network order; INADDR_NONE when the text is not a dotted IPv4 address.
std::uint32_t inet_addr(const char* text);
// Network order to dotted text in a per-thread buffer, valid until the next call.
char* inet_ntoa(in_addr address);

}  // namespace ws
