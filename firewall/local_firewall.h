#pragma once
// The firewall behind the object model: reads come from the store, and every change is
// one store transaction inside which the kernel is brought along. The kernel change
// comes after the store change and before the commit; if the kernel refuses, the store
// change is rolled back and the call fails.
#include <memory>
#include <optional>
#include <vector>

#include "firewall/com/firewall_configuration.h"
#include "firewall/nft/enforcer.h"
#include "firewall/store/firewall_store.h"

class LocalFirewall final : public FirewallConfiguration {
 public:
  LocalFirewall(std::unique_ptr<FirewallStore> store, std::shared_ptr<Enforcer> enforcer);

  Status Ping() override { return {}; }
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

  // At start-up, and whenever the kernel may have drifted from the store.
  Status ApplyAll() override;

 private:
  template <class Key>
  Status FindEntry(const Key& key, std::optional<EntryRecord<Key>>* entry);
  template <class Key>
  Status ListEntries(std::vector<EntryRecord<Key>>* entries);
  template <class Key>
  Status AddEntry(const EntryRecord<Key>& entry);
  template <class Key>
  Status RemoveEntry(const Key& key);
  template <class Key>
  Status UpdateEntry(const Key& key, const EntryChange& change);

  // What one change asks of the kernel.
  struct KernelChange {
    bool replace = false;
    std::optional<bool> firewallOn;                // the firewall switched on or off
    std::optional<std::pair<PortKey, bool>> port;  // the port and whether it is now open
    std::optional<std::pair<AppKey, bool>> app;    // the application and whether it is now enabled

    bool Any() const { return replace || firewallOn || port || app; }
  };

  template <class Write>
  Status Change(Write write);
  Status Enforce(const KernelChange& change);
  Status LoadState(EnforcedState* state);
  Status LoadAuthorizedPaths(std::vector<std::string>* paths);
  // The kernel change for an entry whose enabled state went from `before` to `after`.
  template <class Key>
  static void NoteEnabled(const Key& key, bool before, bool after, KernelChange* change);

  std::unique_ptr<FirewallStore> m_store;
  std::shared_ptr<Enforcer> m_enforcer;
};
