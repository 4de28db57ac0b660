#pragma once
// The firewall of the system service, reached over the bus: the backend of the object model
// in a window or a command line that does not hold the firewall itself.
#include <functional>
#include <memory>
#include <string>

#include "firewall/com/firewall_configuration.h"

namespace sdbus {
class IConnection;
}

class FirewallBusClient final : public FirewallConfiguration {
 public:
  // Told the reason of every change the service refused or failed.
  using FailureReport = std::function<void(const std::string& reason)>;

  // Connects to the system bus (DBUS_SYSTEM_BUS_ADDRESS where set); fails where there is none.
  // The service need not be running yet.
  static Status Connect(std::shared_ptr<FirewallBusClient>* client, FailureReport report = {});
  // Whether the service runs, or the bus would start it when called.
  static bool ServiceAvailable();
  // Whether the service runs now: it owns the kernel's table while it does.
  static bool ServiceRunning();
  ~FirewallBusClient() override;

  Status Ping() override;
  Result<bool> ReadFirewallEnabled() override;
  Status WriteFirewallEnabled(bool on) override;
  Status Find(const AppKey& key, std::optional<AppRecord>* entry) override;
  Status Find(const PortKey& key, std::optional<PortRecord>* entry) override;
  Status List(std::vector<AppRecord>* entries) override;
  Status List(std::vector<PortRecord>* entries) override;
  Status Add(const AppRecord& entry) override;
  Status Add(const PortRecord& entry) override;
  Status Remove(const AppKey& key) override;
  Status Remove(const PortKey& key) override;
  Status Update(const AppKey& key, const EntryChange& change) override;
  Status Update(const PortKey& key, const EntryChange& change) override;
  Status ApplyAll() override;

  // How the service enforces the configuration: "nftables" or "store".
  Status Enforcement(std::string* enforcement);

 private:
  class Proxy;
  FirewallBusClient(std::unique_ptr<sdbus::IConnection> connection, FailureReport report);

  // Runs one call of the proxy; a failure comes back as the kind and reason the service sent.
  template <class Call>
  Status Read(Call call);
  template <class Call>
  Status Change(Call call);

  std::unique_ptr<sdbus::IConnection> m_connection;
  std::unique_ptr<Proxy> m_proxy;
  FailureReport m_report;
};
