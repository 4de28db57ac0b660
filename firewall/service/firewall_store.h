#pragma once
// The firewall configuration in one SQLite database: the on/off state, the authorized
// applications and the open ports, each collection in insertion order.
#include <chrono>
#include <memory>
#include <optional>
#include <string>
#include <type_traits>
#include <vector>

#include "firewall/service/records.h"
#include "firewall/service/sqlite_db.h"

template <class Key>
class EntryTable {
 public:
  int Prepare(sqlite3* db);

  HRESULT Find(const Key& key, std::optional<EntryRecord<Key>>* entry);
  HRESULT List(std::vector<EntryRecord<Key>>* entries);
  // Inserts the entry, or replaces the one with the same key where it stands.
  HRESULT Put(const EntryRecord<Key>& entry);
  // Succeeds whether or not the key was there.
  HRESULT Delete(const Key& key);
  // HRESULT_NOT_FOUND when no entry has the key.
  HRESULT Update(const Key& key, const EntryChange& change);

 private:
  sqlite3* m_db = nullptr;
  SqliteStatement m_find, m_list, m_put, m_delete, m_update;
};

class FirewallStore {
 public:
  // Opens the store at `path`, creating its folder and the database (firewall off) when
  // they do not exist. On failure the thread's error text names the path and the cause.
  // A change waits up to `busyTimeoutMs` for another process's change to end.
  static HRESULT Open(const std::string& path, std::unique_ptr<FirewallStore>* store,
                      int busyTimeoutMs = kDefaultBusyTimeoutMs);
  static constexpr int kDefaultBusyTimeoutMs = 5000;
  ~FirewallStore();

  // One change is one transaction, begun with the write lock taken, so that changes of
  // several processes are serialised (waiting up to the busy timeout) and never lost.
  HRESULT Begin();
  HRESULT Commit();
  void Rollback();

  HRESULT ReadFirewallEnabled(bool* on);
  HRESULT WriteFirewallEnabled(bool on);

  template <class Key>
  EntryTable<Key>& Table() {
    if constexpr (std::is_same_v<Key, PortKey>)
      return m_ports;
    else
      return m_apps;
  }

 private:
  FirewallStore() = default;
  HRESULT Initialise(const std::string& path, int busyTimeoutMs);
  static int WaitWhileBusy(void* store, int attempt);

  sqlite3* m_db = nullptr;
  std::chrono::milliseconds m_busyTimeout{0};
  std::chrono::steady_clock::time_point m_busySince;
  SqliteStatement m_begin, m_commit, m_rollback, m_readEnabled, m_writeEnabled;
  EntryTable<AppKey> m_apps;
  EntryTable<PortKey> m_ports;
};
