#pragma once
// What the firewall service blocked, reached over the bus (org.brenvo.Blocked1): for
// brenvoctl and for the window's notice of blocked programs.
#include <functional>
#include <memory>
#include <vector>

#include "firewall/com/blocked_flow.h"
#include "firewall/com/status.h"

namespace sdbus {
class IConnection;
}

class BlockedBusClient {
 public:
  // Connects to the system bus (DBUS_SYSTEM_BUS_ADDRESS where set); fails where there is none.
  static Result<std::unique_ptr<BlockedBusClient>> Connect();
  ~BlockedBusClient();
  BlockedBusClient(const BlockedBusClient&) = delete;
  BlockedBusClient& operator=(const BlockedBusClient&) = delete;

  // The blocks this caller may see, the one blocked most recently first. A remote address
  // the caller may not see has family 0.
  Result<std::vector<BlockedFlow>> List();

  // Asks the service to tell this client of each block it may see from now on, and calls
  // `blocked` with each, on a thread of the client's own, until the client is destroyed. A
  // service that starts anew meanwhile (restarted, say) is asked again.
  // Fails where the service refuses (Busy: too many watchers of this user).
  using Listener = std::function<void(const BlockedFlow&)>;
  Status Watch(Listener blocked);

 private:
  class Proxy;
  explicit BlockedBusClient(std::unique_ptr<sdbus::IConnection> connection);

  std::unique_ptr<sdbus::IConnection> m_connection;
  std::unique_ptr<Proxy> m_proxy;
};
