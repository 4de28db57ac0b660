#include "firewall/local_firewall.h"

#include <type_traits>
#include <utility>

#include "firewall/com/com_runtime.h"
#include "firewall/com/wide_text.h"

LocalFirewall::LocalFirewall(std::unique_ptr<FirewallStore> store, std::shared_ptr<Enforcer> enforcer)
    : m_store(std::move(store)), m_enforcer(std::move(enforcer)) {}

HRESULT LocalFirewall::ReadFirewallEnabled(bool* on) {
  const HRESULT hr = m_store->UseCurrentFiles();
  return FAILED(hr) ? hr : m_store->ReadFirewallEnabled(on);
}

HRESULT LocalFirewall::WriteFirewallEnabled(bool on) {
  return Change([&](KernelChange* change) {
    change->firewallOn = on;
    return m_store->WriteFirewallEnabled(on);
  });
}

template <class Key>
HRESULT LocalFirewall::FindEntry(const Key& key, std::optional<EntryRecord<Key>>* entry) {
  const HRESULT hr = m_store->UseCurrentFiles();
  return FAILED(hr) ? hr : m_store->Table<Key>().Find(key, entry);
}

template <class Key>
HRESULT LocalFirewall::ListEntries(std::vector<EntryRecord<Key>>* entries) {
  const HRESULT hr = m_store->UseCurrentFiles();
  return FAILED(hr) ? hr : m_store->Table<Key>().List(entries);
}

template <class Key>
HRESULT LocalFirewall::AddEntry(const EntryRecord<Key>& entry) {
  return Change([&](KernelChange* change) {
    EntryTable<Key>& table = m_store->Table<Key>();
    std::optional<EntryRecord<Key>> old;
    HRESULT hr = table.Find(entry.key, &old);
    if (SUCCEEDED(hr)) hr = table.Put(entry);
    NoteEnabled(entry.key, old && old->enabled, entry.enabled, change);
    return hr;
  });
}

template <class Key>
HRESULT LocalFirewall::RemoveEntry(const Key& key) {
  return Change([&](KernelChange* change) {
    EntryTable<Key>& table = m_store->Table<Key>();
    std::optional<EntryRecord<Key>> old;
    HRESULT hr = table.Find(key, &old);
    if (SUCCEEDED(hr)) hr = table.Delete(key);
    NoteEnabled(key, old && old->enabled, false, change);
    return hr;
  });
}

template <class Key>
HRESULT LocalFirewall::UpdateEntry(const Key& key, const EntryChange& entryChange) {
  return Change([&](KernelChange* change) {
    EntryTable<Key>& table = m_store->Table<Key>();
    std::optional<EntryRecord<Key>> old;
    HRESULT hr = table.Find(key, &old);
    if (SUCCEEDED(hr) && !old) hr = HRESULT_NOT_FOUND;
    if (SUCCEEDED(hr)) hr = table.Update(key, entryChange);
    if (SUCCEEDED(hr)) NoteEnabled(key, old->enabled, entryChange.enabled.value_or(old->enabled), change);
    return hr;
  });
}

HRESULT LocalFirewall::Find(const AppKey& key, std::optional<AppRecord>* entry) { return FindEntry(key, entry); }
HRESULT LocalFirewall::Find(const PortKey& key, std::optional<PortRecord>* entry) { return FindEntry(key, entry); }
HRESULT LocalFirewall::List(std::vector<AppRecord>* entries) { return ListEntries(entries); }
HRESULT LocalFirewall::List(std::vector<PortRecord>* entries) { return ListEntries(entries); }
HRESULT LocalFirewall::Add(const AppRecord& entry) { return AddEntry(entry); }
HRESULT LocalFirewall::Add(const PortRecord& entry) { return AddEntry(entry); }
HRESULT LocalFirewall::Remove(const AppKey& key) { return RemoveEntry(key); }
HRESULT LocalFirewall::Remove(const PortKey& key) { return RemoveEntry(key); }
HRESULT LocalFirewall::Update(const AppKey& key, const EntryChange& change) { return UpdateEntry(key, change); }
HRESULT LocalFirewall::Update(const PortKey& key, const EntryChange& change) { return UpdateEntry(key, change); }

HRESULT LocalFirewall::ApplyAll() {
  // Taken as a change, so that no other process changes the store halfway through.
  return Change([](KernelChange* change) {
    change->replace = true;
    return S_OK;
  });
}

template <class Key>
void LocalFirewall::NoteEnabled(const Key& key, bool before, bool after, KernelChange* change) {
  if (before == after) return;
  if constexpr (std::is_same_v<Key, PortKey>)
    change->port = std::make_pair(key, after);
  else
    change->app = std::make_pair(key, after);
}

template <class Write>
HRESULT LocalFirewall::Change(Write write) {
  HRESULT hr = m_store->Begin();
  if (FAILED(hr)) return hr;
  KernelChange kernel;
  hr = write(&kernel);
  bool kernelChanged = false;
  if (SUCCEEDED(hr)) {
    hr = Enforce(kernel);
    kernelChanged = SUCCEEDED(hr) && kernel.Any();
  }
  if (SUCCEEDED(hr)) hr = m_store->Commit();
  if (SUCCEEDED(hr)) return hr;
  m_store->Rollback();
  if (kernelChanged) {
    // The commit failed after the kernel took the change: bring the kernel back to what
    // the store holds, keeping the reason of the failure.
    std::string reason = TakeErrorInfoText();
    EnforcedState state;
    if (SUCCEEDED(LoadState(&state))) m_enforcer->Replace(state);
    SetErrorInfoText(std::move(reason));
  }
  return hr;
}

HRESULT LocalFirewall::Enforce(const KernelChange& change) {
  if (!change.Any()) return S_OK;
  if (!change.replace) {
    HRESULT hr = S_OK;
    if (change.firewallOn) {
      hr = m_enforcer->SwitchFirewall(*change.firewallOn);
    } else if (change.port) {
      hr = m_enforcer->ChangePort(change.port->first, change.port->second);
    } else {
      bool any = false;
      hr = m_store->Table<AppKey>().AnyEnabled(&any);
      if (SUCCEEDED(hr)) hr = m_enforcer->ChangeApp(ExactUtf8(change.app->first).value_or(""), change.app->second, any);
    }
    if (SUCCEEDED(hr)) return S_OK;
    // The kernel does not hold what the last change left (the table was changed or
    // deleted behind our back): build it again from the store.
    TakeErrorInfoText();
  }
  EnforcedState state;
  const HRESULT hr = LoadState(&state);
  return FAILED(hr) ? hr : m_enforcer->Replace(state);
}

HRESULT LocalFirewall::LoadState(EnforcedState* state) {
  HRESULT hr = m_store->ReadFirewallEnabled(&state->firewallOn);
  state->openPorts.clear();
  if (FAILED(hr)) return hr;
  std::vector<PortRecord> ports;
  hr = m_store->Table<PortKey>().List(&ports);
  for (const PortRecord& port : ports)
    if (port.enabled) state->openPorts.push_back(port.key);
  return FAILED(hr) ? hr : LoadAuthorizedPaths(&state->authorizedPaths);
}

HRESULT LocalFirewall::LoadAuthorizedPaths(std::vector<std::string>* paths) {
  paths->clear();
  std::vector<AppRecord> apps;
  const HRESULT hr = m_store->Table<AppKey>().List(&apps);
  // A path that holds what no file name can (a NUL, an unpaired surrogate) names no
  // executable, and so authorizes nothing (as ChangeApp's "").
  for (const AppRecord& app : apps)
    if (auto path = ExactUtf8(app.key); app.enabled && path) paths->push_back(*std::move(path));
  return hr;
}
