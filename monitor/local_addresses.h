#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace ws {

struct InterfaceAddress {
  std::string interface;
  std::uint32_t address;  // network order
  bool up;
  bool loopback;
};

// The IPv4 addresses of the host's interfaces, in the order the system lists them.
std::vector<InterfaceAddress> InterfaceAddresses();

// The addresses worth capturing, as dotted text: those of up interfaces, loopback ones
// only when there is no other. (The host name usually resolves to 127.0.1.1 here, which
// would capture none of the machine's real traffic.)
std::vector<std::string> CaptureAddresses(const std::vector<InterfaceAddress>& interfaces);

}  // namespace ws
