#include "firewall/local_firewall.h"

#include <type_traits>
#include <utility>

#include "firewall/com/wide_text.h"

LocalFirewall::LocalFirewall(std::unique_ptr<FirewallStore> store, std::shared_ptr<Enforcer> enforcer)
    : m_store(std::move(store)), m_enforcer(std::move(enforcer)) {}

Result<bool> LocalFirewall::ReadFirewallEnabled() {
  bool on = false;
  Status status = m_store->UseCurrentFiles();
  if (status.ok()) status = m_store->ReadFirewallEnabled(&on);
  if (!status.ok()) return status;
  return on;
}

Status LocalFirewall::WriteFirewallEnabled(bool on) {
  return Change([&](KernelChange* change) {
    change->firewallOn = on;
    return m_store->WriteFirewallEnabled(on);
  });
}

template <class Key>
Status LocalFirewall::FindEntry(const Key& key, std::optional<EntryRecord<Key>>* entry) {
  const Status status = m_store->UseCurrentFiles();
  return !status.ok() ? status : m_store->Table<Key>().Find(key, entry);
}

template <class Key>
Status LocalFirewall::ListEntries(std::vector<EntryRecord<Key>>* entries) {
  const Status status = m_store->UseCurrentFiles();
  return !status.ok() ? status : m_store->Table<Key>().List(entries);
}

template <class Key>
Status LocalFirewall::AddEntry(const EntryRecord<Key>& entry) {
  return Change([&](KernelChange* change) {
    EntryTable<Key>& table = m_store->Table<Key>();
    std::optional<EntryRecord<Key>> old;
    Status status = table.Find(entry.key, &old);
    if (status.ok()) status = table.Put(entry);
    NoteEnabled(entry.key, old && old->enabled, entry.enabled, change);
    return status;
  });
}

template <class Key>
Status LocalFirewall::RemoveEntry(const Key& key) {
  return Change([&](KernelChange* change) {
    EntryTable<Key>& table = m_store->Table<Key>();
    std::optional<EntryRecord<Key>> old;
    Status status = table.Find(key, &old);
    if (status.ok()) status = table.Delete(key);
    NoteEnabled(key, old && old->enabled, false, change);
    return status;
  });
}

template <class Key>
Status LocalFirewall::UpdateEntry(const Key& key, const EntryChange& entryChange) {
  return Change([&](KernelChange* change) {
    EntryTable<Key>& table = m_store->Table<Key>();
    std::optional<EntryRecord<Key>> old;
    Status status = table.Find(key, &old);
    if (status.ok() && !old) status = NotFound("no such entry");
    if (status.ok()) status = table.Update(key, entryChange);
    if (status.ok()) NoteEnabled(key, old->enabled, entryChange.enabled.value_or(old->enabled), change);
    return status;
  });
}

Status LocalFirewall::Find(const AppKey& key, std::optional<AppRecord>* entry) { return FindEntry(key, entry); }
Status LocalFirewall::Find(const PortKey& key, std::optional<PortRecord>* entry) { return FindEntry(key, entry); }
Status LocalFirewall::List(std::vector<AppRecord>* entries) { return ListEntries(entries); }
Status LocalFirewall::List(std::vector<PortRecord>* entries) { return ListEntries(entries); }
Status LocalFirewall::Add(const AppRecord& entry) { return AddEntry(entry); }
Status LocalFirewall::Add(const PortRecord& entry) { return AddEntry(entry); }
Status LocalFirewall::Remove(const AppKey& key) { return RemoveEntry(key); }
Status LocalFirewall::Remove(const PortKey& key) { return RemoveEntry(key); }
Status LocalFirewall::Update(const AppKey& key, const EntryChange& change) { return UpdateEntry(key, change); }
Status LocalFirewall::Update(const PortKey& key, const EntryChange& change) { return UpdateEntry(key, change); }

Status LocalFirewall::ApplyAll() {
  // Taken as a change, so that no other process changes the store halfway through.
  return Change([](KernelChange* change) {
    change->replace = true;
    return Status();
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
Status LocalFirewall::Change(Write write) {
  Status status = m_store->Begin();
  if (!status.ok()) return status;
  KernelChange kernel;
  status = write(&kernel);
  bool kernelChanged = false;
  if (status.ok()) {
    status = Enforce(kernel);
    kernelChanged = status.ok() && kernel.Any();
  }
  if (status.ok()) status = m_store->Commit();
  if (status.ok()) return status;
  m_store->Rollback();
  if (kernelChanged) {
    // The commit failed after the kernel took the change: bring the kernel back to what
    // the store holds; the failure told is the commit's.
    EnforcedState state;
    if (LoadState(&state).ok()) (void)m_enforcer->Replace(state);
  }
  return status;
}

Status LocalFirewall::Enforce(const KernelChange& change) {
  if (!change.Any()) return {};
  if (!change.replace) {
    Status status;
    if (change.firewallOn) {
      status = m_enforcer->SwitchFirewall(*change.firewallOn);
    } else if (change.port) {
      status = m_enforcer->ChangePort(change.port->first, change.port->second);
    } else {
      bool any = false;
      status = m_store->Table<AppKey>().AnyEnabled(&any);
      if (status.ok())
        status = m_enforcer->ChangeApp(ExactUtf8(change.app->first).value_or(""), change.app->second, any);
    }
    // Otherwise the kernel does not hold what the last change left (the table was changed
    // or deleted behind our back): build it again from the store.
    if (status.ok()) return {};
  }
  EnforcedState state;
  const Status status = LoadState(&state);
  return !status.ok() ? status : m_enforcer->Replace(state);
}

Status LocalFirewall::LoadState(EnforcedState* state) {
  Status status = m_store->ReadFirewallEnabled(&state->firewallOn);
  state->openPorts.clear();
  if (!status.ok()) return status;
  std::vector<PortRecord> ports;
  status = m_store->Table<PortKey>().List(&ports);
  for (const PortRecord& port : ports)
    if (port.enabled) state->openPorts.push_back(port.key);
  return !status.ok() ? status : LoadAuthorizedPaths(&state->authorizedPaths);
}

Status LocalFirewall::LoadAuthorizedPaths(std::vector<std::string>* paths) {
  paths->clear();
  std::vector<AppRecord> apps;
  const Status status = m_store->Table<AppKey>().List(&apps);
  // A path that holds what no file name can (a NUL, an unpaired surrogate) names no
  // executable, and so authorizes nothing (as ChangeApp's "").
  for (const AppRecord& app : apps)
    if (auto path = ExactUtf8(app.key); app.enabled && path) paths->push_back(*std::move(path));
  return status;
}
