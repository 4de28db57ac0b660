#include "monitor/local_addresses.h"

#include "monitor/winsock.h"

#include <net/if.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

namespace ws {

std::vector<InterfaceAddress> InterfaceAddresses() {
  // SIOCGIFCONF lists the IPv4 addresses alone, where getifaddrs() has the kernel describe
  // every link and every address of every family: a tenth of the time, which counts for
  // whatever makes many monitors (the fuzz target makes one per input).
  std::vector<InterfaceAddress> result;
  const int s = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  if (s < 0) return result;
  std::vector<ifreq> entries(16);
  ifconf list{};
  for (;;) {
    list.ifc_len = static_cast<int>(entries.size() * sizeof(ifreq));
    list.ifc_req = entries.data();
    if (::ioctl(s, SIOCGIFCONF, &list) != 0) list.ifc_len = 0;
    // A full buffer may have cut the list short: ask again with more room.
    if (static_cast<std::size_t>(list.ifc_len) < entries.size() * sizeof(ifreq)) break;
    entries.resize(entries.size() * 2);
  }
  entries.resize(static_cast<std::size_t>(list.ifc_len) / sizeof(ifreq));
  for (ifreq entry : entries) {
    const std::uint32_t address = reinterpret_cast<const sockaddr_in*>(&entry.ifr_addr)->sin_addr.s_addr;
    if (::ioctl(s, SIOCGIFFLAGS, &entry) != 0) continue;
    result.push_back({entry.ifr_name, address, (entry.ifr_flags & IFF_UP) != 0, (entry.ifr_flags & IFF_LOOPBACK) != 0});
  }
  ::close(s);
  return result;
}

std::vector<std::string> CaptureAddresses(const std::vector<InterfaceAddress>& interfaces) {
  std::vector<std::string> others, loopbacks;
  for (const InterfaceAddress& entry : interfaces) {
    if (!entry.up) continue;
    const bool loopback = entry.loopback || (entry.address & htonl(0xFF000000)) == htonl(0x7F000000);
    (loopback ? loopbacks : others).push_back(inet_ntoa(in_addr{entry.address}));
  }
  return others.empty() ? loopbacks : others;
}

}  // namespace ws
