#pragma once
// The capture of the system service, reached over the bus: for a window that may not
// capture itself.
#include <cstdint>
#include <memory>
#include <string>

#include "firewall/com/hresult.h"

namespace sdbus {
class IConnection;
}

class TrafficBusClient {
 public:
  // Connects to the system bus (DBUS_SYSTEM_BUS_ADDRESS where set); fails, with the reason
  // as the thread's error text, where there is none.
  static HRESULT Connect(std::unique_ptr<TrafficBusClient>* client);
  ~TrafficBusClient();
  TrafficBusClient(const TrafficBusClient&) = delete;
  TrafficBusClient& operator=(const TrafficBusClient&) = delete;

  // Asks the service for the capture of `address` (dotted IPv4) and waits for its answer,
  // which takes as long as polkit asks the user for a password, or until the descriptor
  // `interrupt` becomes readable (E_ABORT). Gives the caller's end of the capture's socket
  // (the caller owns it) and the capture's number. Fails with E_ACCESSDENIED when polkit
  // refused, with a Winsock error as HRESULT_FROM_WIN32 when the capture cannot start.
  HRESULT OpenCapture(const std::string& address, int interrupt, int* socket, std::uint32_t* capture);
  // How many datagrams of `capture` the service has dropped so far.
  HRESULT DroppedDatagrams(std::uint32_t capture, std::uint64_t* dropped);

 private:
  class Proxy;
  explicit TrafficBusClient(std::unique_ptr<sdbus::IConnection> connection);

  std::unique_ptr<sdbus::IConnection> m_connection;
  std::unique_ptr<Proxy> m_proxy;
};
