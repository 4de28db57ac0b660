#pragma once
// Probes of what gets through a firewall: servers and clients on the calling thread's
// network namespace (see InNamespace), with short time-outs so that a dropped packet is
// told apart quickly from one that got through.
#include <netinet/in.h>

#include <cstdint>
#include <string>

inline constexpr int kProbeTimeoutMs = 300;

// A socket that closes itself.
struct Fd {
  explicit Fd(int value) : fd(value) {}
  ~Fd();
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  int fd;
};

sockaddr_in Address(const char* ip, int port);
// Whether something arrives on fd within the probe time-out.
bool Readable(int fd);
// Opens a TCP connection to an IPv4 or IPv6 address; -1 when it does not get through in time.
int ConnectTcp(const char* ip, int port, int timeoutMs = kProbeTimeoutMs);
// Whether a TCP connection from network namespace `netns` to an address gets through in time.
bool TcpFrom(const std::string& netns, const char* ip, int port, int timeoutMs = kProbeTimeoutMs);
// Sends `count` TCP SYNs from network namespace `netns`, address `from`, to `to`, one to each
// port from `firstPort` on (wrapping past 65535 to 1024), as fast as a raw socket takes them.
// Whether all were sent.
bool SynFlood(const std::string& netns, const char* from, const char* to, int firstPort, int count);
// Whether a UDP datagram to an IPv4 or IPv6 address is answered within the probe time-out.
bool UdpAnswered(const char* ip, int port);
// A TCP server listening, and a UDP socket bound, on every address at `port`.
int TcpServer(int port);
int UdpServer(int port);
