#pragma once
// The firewall behind the object model: reads come from the store, and every change is
// one store transaction inside which the kernel is brought along. The kernel change
// comes after the store change and before the commit; if the kernel refuses, the store
// change is rolled back and the call fails.
#include <memory>
#include <optional>
#include <vector>

#include "firewall/service/enforcer.h"
#include "firewall/service/firewall_store.h"

class FirewallService {
 public:
  FirewallService(std::unique_ptr<FirewallStore> store, std::shared_ptr<Enforcer> enforcer);

  HRESULT ReadFirewallEnabled(bool* on);
  HRESULT WriteFirewallEnabled(bool on);

  template <class Key>
  HRESULT Find(const Key& key, std::optional<EntryRecord<Key>>* entry);
  template <class Key>
  HRESULT List(std::vector<EntryRecord<Key>>* entries);
  // Adds the entry, or replaces the one with the same key.
  template <class Key>
  HRESULT Add(const EntryRecord<Key>& entry);
  template <class Key>
  HRESULT Remove(const Key& key);
  // HRESULT_NOT_FOUND when no entry has the key.
  template <class Key>
  HRESULT Update(const Key& key, const EntryChange& change);

  // Makes the kernel hold the whole stored configuration, in one atomic step: at start-up,
  // and whenever the kernel may have drifted from the store.
  HRESULT ApplyAll();

 private:
  // What one change asks of the kernel.
  struct KernelChange {
    bool replace = false;
    std::optional<std::pair<PortKey, bool>> port;  // the port and whether it is now open
  };

  template <class Write>
  HRESULT Change(Write write);
  HRESULT Enforce(const KernelChange& change);
  HRESULT LoadState(EnforcedState* state);
  // The kernel change for a port whose enabled state went from `before` to `after`.
  template <class Key>
  static void NotePort(const Key& key, bool before, bool after, KernelChange* change);

  std::unique_ptr<FirewallStore> m_store;
  std::shared_ptr<Enforcer> m_enforcer;
};
