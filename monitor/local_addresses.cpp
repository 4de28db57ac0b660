#include "monitor/local_addresses.h"

#include "monitor/winsock.h"

#include <ifaddrs.h>
#include <net/if.h>

namespace ws {

std::vector<InterfaceAddress> InterfaceAddresses() {
  std::vector<InterfaceAddress> result;
  ifaddrs* list = nullptr;
  if (::getifaddrs(&list) != 0) return result;
  for (const ifaddrs* it = list; it != nullptr; it = it->ifa_next) {
    if (it->ifa_addr == nullptr || it->ifa_addr->sa_family != AF_INET) continue;
    result.push_back({it->ifa_name, reinterpret_cast<const sockaddr_in*>(it->ifa_addr)->sin_addr.s_addr,
                      (it->ifa_flags & IFF_UP) != 0, (it->ifa_flags & IFF_LOOPBACK) != 0});
  }
  ::freeifaddrs(list);
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
