#pragma once
// The capture of the system service, reached over the bus: for a window that may not
// capture itself.
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "firewall/com/status.h"

namespace sdbus {
class IConnection;
}

class TrafficBusClient {
 public:
  // Connects to the system bus (DBUS_SYSTEM_BUS_ADDRESS where set); fails where there is none.
  static Result<std::unique_ptr<TrafficBusClient>> Connect();
  ~TrafficBusClient();
  TrafficBusClient(const TrafficBusClient&) = delete;
  TrafficBusClient& operator=(const TrafficBusClient&) = delete;

  // The caller's end of a capture's socket (the caller owns it) and the capture's number.
  struct Capture {
    int socket = -1;
    std::uint32_t number = 0;
  };
  // Asks the service for the capture of `address` (dotted IPv4) and waits for its answer,
  // which takes as long as polkit asks the user for a password, or until the descriptor
  // `interrupt` becomes readable: then nothing. Fails as access denied when polkit refused,
  // and as the service's capture refused (see CaptureServer::Open) otherwise.
  Result<std::optional<Capture>> OpenCapture(const std::string& address, int interrupt);
  // How many datagrams of `capture` the service has dropped so far.
  Result<std::uint64_t> DroppedDatagrams(std::uint32_t capture);

 private:
  class Proxy;
  explicit TrafficBusClient(std::unique_ptr<sdbus::IConnection> connection);

  std::unique_ptr<sdbus::IConnection> m_connection;
  std::unique_ptr<Proxy> m_proxy;
};
