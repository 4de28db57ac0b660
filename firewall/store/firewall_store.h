#pragma once
// The firewall configuration in one SQLite database: the on/off state, the authorized
// applications and the open ports, each collection in insertion order.
#include <sys/types.h>

#include <array>
#include <chrono>
#include <memory>
#include <optional>
#include <string>
#include <type_traits>
#include <vector>

#include "firewall/com/records.h"
#include "firewall/store/sqlite_db.h"

template <class Key>
class EntryTable {
 public:
  int Prepare(sqlite3* db);
  void Finalize();

  Status Find(const Key& key, std::optional<EntryRecord<Key>>* entry);
  Status List(std::vector<EntryRecord<Key>>* entries);
  // Whether any entry is enabled.
  Status AnyEnabled(bool* any);
  // Inserts the entry, or replaces the one with the same key where it stands.
  Status Put(const EntryRecord<Key>& entry);
  // Succeeds whether or not the key was there.
  Status Delete(const Key& key);
  // Fails with kNotFound when no entry has the key.
  Status Update(const Key& key, const EntryChange& change);

 private:
  sqlite3* m_db = nullptr;
  SqliteStatement m_find, m_list, m_anyEnabled, m_put, m_delete, m_update;
};

// Between two changes another process may delete the store's files and make new ones
// (it may, once something else in this process has closed one of them and so dropped this
// process's locks): every change, and every read outside one, first makes sure that the
// connection still holds the files at the store's path, and connects again otherwise. A
// change is acknowledged only once it is in the files that other processes read.
class FirewallStore {
 public:
  // Opens the store at `path`, creating its folder and the database (firewall off) when
  // they do not exist. A failure's reason names the path and the cause.
  // A change waits up to `busyTimeoutMs` for another process's change to end.
  static Status Open(const std::string& path, std::unique_ptr<FirewallStore>* store,
                     int busyTimeoutMs = kDefaultBusyTimeoutMs);
  static constexpr int kDefaultBusyTimeoutMs = 5000;
  ~FirewallStore();

  // One change is one transaction, begun with the write lock taken, so that changes of
  // several processes are serialised (waiting up to the busy timeout) and never lost.
  Status Begin();
  // Fails when the store's files were replaced while the change was written: it may be lost.
  Status Commit();
  void Rollback();
  // Before a read outside a change: connects again when the store's files were replaced.
  Status UseCurrentFiles();

  Status ReadFirewallEnabled(bool* on);
  Status WriteFirewallEnabled(bool on);

  template <class Key>
  EntryTable<Key>& Table() {
    if constexpr (std::is_same_v<Key, PortKey>)
      return m_ports;
    else
      return m_apps;
  }

 private:
  // Which file a path named when the connection was made.
  struct FileId {
    dev_t device;
    ino_t inode;
    bool operator==(const FileId&) const = default;
  };

  FirewallStore() = default;
  Status Connect();
  Status Prepare();
  // The store's schema version; a failure for one newer than this build's.
  Status ReadVersion(const std::string& doing, int* version);
  Status Upgrade(const std::string& doing);
  void Disconnect();
  std::array<std::optional<FileId>, 2> IdentifyFiles() const;
  bool FilesReplaced() const { return IdentifyFiles() != m_files; }
  static int WaitWhileBusy(void* store, int attempt);
  static int NoteLogSize(void* store, sqlite3* db, const char* name, int frames);

  std::string m_path;
  sqlite3* m_db = nullptr;
  std::array<std::optional<FileId>, 2> m_files;  // the database and its write-ahead log
  int m_logFrames = 0;
  std::chrono::milliseconds m_busyTimeout{0};
  std::chrono::steady_clock::time_point m_busySince;
  SqliteStatement m_begin, m_commit, m_rollback, m_readEnabled, m_writeEnabled;
  EntryTable<AppKey> m_apps;
  EntryTable<PortKey> m_ports;
};
