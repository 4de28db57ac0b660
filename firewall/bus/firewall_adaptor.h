#pragma once
// The firewall service's object on the bus: every call goes to the firewall of this
// process; reads are open, and each change is made once the authorizer allows it, with its
// input checked first so that nothing out of bounds is ever asked for.
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "firewall/bus/authorizer.h"
#include "firewall/bus/firewall1_adaptor.h"
#include "firewall/com/firewall_configuration.h"

class FirewallAdaptor final : public sdbus::AdaptorInterfaces<org::brenvo::Firewall1_adaptor> {
 public:
  // `enforcement` is what the Enforcement property says: "nftables" or "store". The
  // authorizer must not answer once the adaptor is gone.
  FirewallAdaptor(sdbus::IConnection& connection, std::shared_ptr<FirewallConfiguration> firewall,
                  Authorizer& authorizer, std::string enforcement);
  ~FirewallAdaptor();
  FirewallAdaptor(const FirewallAdaptor&) = delete;
  FirewallAdaptor& operator=(const FirewallAdaptor&) = delete;

 private:
  using Applications = std::vector<sdbus::Struct<std::string, std::string, bool>>;
  using Ports = std::vector<sdbus::Struct<int32_t, int32_t, std::string, bool>>;

  bool GetFirewallEnabled() override;
  void SetFirewallEnabled(sdbus::Result<>&& result, bool enabled) override;
  Applications ListApplications() override;
  std::tuple<bool, std::string, bool> GetApplication(const std::string& path) override;
  void AddApplication(sdbus::Result<>&& result, std::string path, std::string name, bool enabled) override;
  void RemoveApplication(sdbus::Result<>&& result, std::string path) override;
  void SetApplicationName(sdbus::Result<>&& result, std::string path, std::string name) override;
  void SetApplicationEnabled(sdbus::Result<>&& result, std::string path, bool enabled) override;
  Ports ListPorts() override;
  std::tuple<bool, std::string, bool> GetPort(const int32_t& number, const int32_t& protocol) override;
  void AddPort(sdbus::Result<>&& result, int32_t number, int32_t protocol, std::string name, bool enabled) override;
  void RemovePort(sdbus::Result<>&& result, int32_t number, int32_t protocol) override;
  void SetPortName(sdbus::Result<>&& result, int32_t number, int32_t protocol, std::string name) override;
  void SetPortEnabled(sdbus::Result<>&& result, int32_t number, int32_t protocol, bool enabled) override;
  void Apply(sdbus::Result<>&& result) override;
  std::string Enforcement() override { return m_enforcement; }

  // Answers the call with `checked` when the input was refused; otherwise asks the
  // authorizer and, once allowed, makes the change and answers with its result.
  void Change(sdbus::Result<>&& result, const Status& checked, std::function<Status()> change);
  // Refuses a change after which the list of `changed`'s kind would no longer fit in one
  // reply on the bus.
  template <class Key>
  Status RoomFor(const EntryRecord<Key>& changed);

  std::shared_ptr<FirewallConfiguration> m_firewall;
  // A bound on the bytes of each list's reply, so that a change need not list them all:
  // counted in full when first needed and whenever it comes near the limit, and raised by
  // every change in between (what a removal or a shorter name frees is not taken off).
  std::optional<std::size_t> m_applicationsBytes, m_portsBytes;
  Authorizer& m_authorizer;
  std::string m_enforcement;
};
