#include "firewall/bus/blocked_bus_client.h"

#include <sdbus-c++/sdbus-c++.h>

#include <chrono>

#include "firewall/bus/blocked_protocol.h"
#include "firewall/bus/bus_protocol.h"
#include "firewall/bus/firewall1_proxy.h"

namespace {

// Both calls are answered without asking the user anything; a service that does not answer
// must not hold up the window's exit for long.
constexpr auto kCallTimeout = std::chrono::seconds(10);

}  // namespace

class BlockedBusClient::Proxy final : public sdbus::ProxyInterfaces<org::brenvo::Blocked1_proxy> {
 public:
  explicit Proxy(sdbus::IConnection& connection) : ProxyInterfaces(connection, bus::kServiceName, bus::kObjectPath) {
    registerProxy();
  }
  ~Proxy() { unregisterProxy(); }

  // Set before the service is asked to send anything, and only then.
  Listener listener;
  // Asks a service that starts anew (restarted, say) to go on telling this client.
  sdbus::Slot rewatch;

  void WatchAgain() {
    getProxy().callMethodAsync("WatchBlocked").onInterface(INTERFACE_NAME).uponReplyInvoke([](const sdbus::Error*) {
      // Nothing to do about a refusal here: the client simply hears no more.
    });
  }

 private:
  void onBlocked(const bus::BlockedStruct& blocked) override {
    if (listener) listener(bus::BlockedFromBus(blocked));
  }
};

BlockedBusClient::BlockedBusClient(std::unique_ptr<sdbus::IConnection> connection)
    : m_connection(std::move(connection)), m_proxy(std::make_unique<Proxy>(*m_connection)) {
  m_connection->setMethodCallTimeout(kCallTimeout);
}

BlockedBusClient::~BlockedBusClient() {
  // Ends the thread that Watch started (nothing where it started none) before the proxy,
  // whose listener it calls, goes.
  if (m_proxy->listener) m_connection->leaveEventLoop();
}

Result<std::unique_ptr<BlockedBusClient>> BlockedBusClient::Connect() {
  std::unique_ptr<sdbus::IConnection> connection;
  if (Status status = bus::ConnectSystemBus(&connection); !status.ok()) return status;
  return std::unique_ptr<BlockedBusClient>(new BlockedBusClient(std::move(connection)));
}

Result<std::vector<BlockedFlow>> BlockedBusClient::List() {
  try {
    std::vector<BlockedFlow> flows;
    for (const bus::BlockedStruct& blocked : m_proxy->ListBlocked()) flows.push_back(bus::BlockedFromBus(blocked));
    return flows;
  } catch (const sdbus::Error& error) {
    return bus::StatusOf(error);
  }
}

Status BlockedBusClient::Watch(Listener blocked) {
  if (m_proxy->listener) return InvalidArgument("this client watches already");
  try {
    m_proxy->WatchBlocked();
  } catch (const sdbus::Error& error) {
    return bus::StatusOf(error);
  }
  // Signals that came with the answer wait in the connection's queue for the thread.
  m_proxy->listener = blocked ? std::move(blocked) : [](const BlockedFlow&) {};
  try {
    m_proxy->rewatch = m_connection->addMatch(
        std::string("type='signal',sender='org.freedesktop.DBus',interface='org.freedesktop.DBus',"
                    "member='NameOwnerChanged',arg0='") +
            bus::kServiceName + "'",
        [proxy = m_proxy.get()](sdbus::Message& message) {
          std::string name, before, after;
          message >> name >> before >> after;
          if (!after.empty()) proxy->WatchAgain();
        });
  } catch (const sdbus::Error&) {
    // Then a service that starts anew is not asked again; this one goes on telling.
  }
  m_connection->enterEventLoopAsync();
  return {};
}
