#pragma once
// One entry of the record of blocked inbound flows, as the service keeps it and as its
// clients are told of it.
#include <sys/types.h>

#include <array>
#include <chrono>
#include <cstdint>
#include <string>

// Who held the socket that would have received a blocked flow.
struct BlockedHolder {
  bool listening = false;  // a socket would have received it; when not, the rest is empty
  std::string program;     // the holder's executable; "" where nothing listened or unknown
  pid_t pid = 0;           // 0 where unknown
  uid_t uid = 0;           // the holder's, else the socket's owner
  bool operator==(const BlockedHolder& other) const = default;
};

struct BlockedFlow {
  BlockedHolder holder;
  std::uint8_t protocol = 0;  // IPPROTO_TCP or IPPROTO_UDP
  std::uint16_t localPort = 0;
  std::uint64_t count = 0;
  std::chrono::system_clock::time_point first;
  std::chrono::system_clock::time_point last;
  // The last one's remote end: AF_INET or AF_INET6, the address in network order (an IPv4
  // one in the first four bytes), the port in host order; family 0 where it is not told.
  int family = 0;
  std::array<std::uint8_t, 16> remoteAddress{};
  std::uint16_t remotePort = 0;
};
