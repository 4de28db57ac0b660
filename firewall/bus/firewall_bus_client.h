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

  // Connects to the system bus (DBUS_SYSTEM_BUS_ADDRESS where set); fails, with the reason
  // as the thread's error text, where there is none. The service need not be running yet.
  static HRESULT Connect(std::shared_ptr<FirewallBusClient>* client, FailureReport report = {});
  // Whether the service runs, or the bus would start it when called.
  static bool ServiceAvailable();
  // Whether the service runs now: it owns the kernel's table while it does.
  static bool ServiceRunning();
  ~FirewallBusClient() override;

  HRESULT Ping() override;
  HRESULT ReadFirewallEnabled(bool* on) override;
  HRESULT WriteFirewallEnabled(bool on) override;
  HRESULT Find(const AppKey& key, std::optional<AppRecord>* entry) override;
  HRESULT Find(const PortKey& key, std::optional<PortRecord>* entry) override;
  HRESULT List(std::vector<AppRecord>* entries) override;
  HRESULT List(std::vector<PortRecord>* entries) override;
  HRESULT Add(const AppRecord& entry) override;
  HRESULT Add(const PortRecord& entry) override;
  HRESULT Remove(const AppKey& key) override;
  HRESULT Remove(const PortKey& key) override;
  HRESULT Update(const AppKey& key, const EntryChange& change) override;
  HRESULT Update(const PortKey& key, const EntryChange& change) override;
  HRESULT ApplyAll() override;

  // How the service enforces the configuration: "nftables" or "store".
  HRESULT Enforcement(std::string* enforcement);

 private:
  class Proxy;
  FirewallBusClient(std::unique_ptr<sdbus::IConnection> connection, FailureReport report);

  // Runs one call of the proxy; a failure comes back as the HRESULT the service sent.
  template <class Call>
  HRESULT Read(Call call);
  template <class Call>
  HRESULT Change(Call call);

  std::unique_ptr<sdbus::IConnection> m_connection;
  std::unique_ptr<Proxy> m_proxy;
  FailureReport m_report;
};
