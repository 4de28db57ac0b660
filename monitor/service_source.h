#pragma once

#include "firewall/com/status.h"
#include "monitor/descriptor_source.h"

#include <cstdint>
#include <memory>

class TrafficBusClient;

namespace ws {

// The Winsock error that the traffic page shows for a capture the service refused: WSAEACCES
// where polkit refused it, WSAEADDRNOTAVAIL for an address that is not local, WSAEMFILE for
// too many captures, WSAENETDOWN for anything else.
int WinsockError(const Status& failure);

// The capture of the system service, for a window that may not capture itself. Binding
// asks brenvod over the bus for the capture of the address: polkit may refuse it
// (WSAEACCES), the service checks that the address is local (WSAEADDRNOTAVAIL); the
// datagrams then come on the socket the service hands over. When the source goes, the
// number of datagrams the service dropped because they were not read in time is said on
// standard error.
class ServiceSource final : public DescriptorSource {
 public:
  ServiceSource();
  ~ServiceSource() override;

  // Connects to the system bus.
  int Open() override;
  int Bind(std::uint32_t address) override;
  void Wake() override;

 private:
  std::unique_ptr<TrafficBusClient> m_service;
  int m_interrupt;  // eventfd: ends a bind that still waits for the service
  std::uint32_t m_capture = 0;
};

}  // namespace ws
