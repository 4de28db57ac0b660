#pragma once
// The firewall behind the object model: reads come from the store, and every change is
// one store transaction inside which the kernel is brought along. The kernel change
// comes after the store change and before the commit; if the kernel refuses, the store
// change is rolled back and the call fails.
#include <memory>
#include <optional>
#include <vector>

#include "firewall/nft/enforcer.h"
#include "firewall/com/firewall_configuration.h"
#include "firewall/store/firewall_store.h"

class LocalFirewall final : public FirewallConfiguration {
 public:
  LocalFirewall(std::unique_ptr<FirewallStore> store, std::shared_ptr<Enforcer> enforcer);

  HRESULT Ping() override { return S_OK; }
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

  // At start-up, and whenever the kernel may have drifted from the store.
  HRESULT ApplyAll() override;

 private:
  template <class Key>
  HRESULT FindEntry(const Key& key, std::optional<EntryRecord<Key>>* entry);
  template <class Key>
  HRESULT ListEntries(std::vector<EntryRecord<Key>>* entries);
  template <class Key>
  HRESULT AddEntry(const EntryRecord<Key>& entry);
  template <class Key>
  HRESULT RemoveEntry(const Key& key);
  template <class Key>
  HRESULT UpdateEntry(const Key& key, const EntryChange& change);

  // What one change asks of the kernel.
  struct KernelChange {
    bool replace = false;
    std::optional<bool> firewallOn;                // the firewall switched on or off
    std::optional<std::pair<PortKey, bool>> port;  // the port and whether it is now open
    std::optional<std::pair<AppKey, bool>> app;    // the application and whether it is now enabled

    bool Any() const { return replace || firewallOn || port || app; }
  };

  template <class Write>
  HRESULT Change(Write write);
  HRESULT Enforce(const KernelChange& change);
  HRESULT LoadState(EnforcedState* state);
  HRESULT LoadAuthorizedPaths(std::vector<std::string>* paths);
  // The kernel change for an entry whose enabled state went from `before` to `after`.
  template <class Key>
  static void NoteEnabled(const Key& key, bool before, bool after, KernelChange* change);

  std::unique_ptr<FirewallStore> m_store;
  std::shared_ptr<Enforcer> m_enforcer;
};
