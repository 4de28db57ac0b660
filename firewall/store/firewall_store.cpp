#include "firewall/store/firewall_store.h"

#include <sys/stat.h>

#include <filesystem>
#include <iterator>
#include <system_error>
#include <thread>

namespace {

using Use = SqliteStatement::Use;

// The log is copied into the database once it holds this many pages (SQLite's default).
constexpr int kCheckpointFrames = 1000;

// What brings a store of version i to version i + 1; the store records its version in
// `PRAGMA user_version`, 0 for a new file. A store from a newer build is not touched.
constexpr const char* kUpgrades[] = {
    // 1: the on/off state, the authorized applications and the open ports.
    "CREATE TABLE IF NOT EXISTS settings ("
    "  id INTEGER PRIMARY KEY CHECK (id = 1),"
    "  firewall_enabled INTEGER NOT NULL);"
    "INSERT OR IGNORE INTO settings (id, firewall_enabled) VALUES (1, 0);"
    // The rowid gives the insertion order; a replaced entry keeps its row and so its place.
    "CREATE TABLE IF NOT EXISTS applications ("
    "  seq INTEGER PRIMARY KEY,"
    "  path BLOB NOT NULL UNIQUE,"
    "  name BLOB NOT NULL,"
    "  enabled INTEGER NOT NULL);"
    "CREATE TABLE IF NOT EXISTS open_ports ("
    "  seq INTEGER PRIMARY KEY,"
    "  number INTEGER NOT NULL,"
    "  protocol INTEGER NOT NULL,"
    "  name BLOB NOT NULL,"
    "  enabled INTEGER NOT NULL,"
    "  UNIQUE (number, protocol));",
};
constexpr int kSchemaVersion = static_cast<int>(std::size(kUpgrades));

template <class Key>
struct TableSql;

// Every statement puts the key first (parameters and columns), then the name and the flag.
template <>
struct TableSql<AppKey> {
  static constexpr int kNameIndex = 2;
  static constexpr const char* kFind = "SELECT path, name, enabled FROM applications WHERE path = ?1";
  static constexpr const char* kList = "SELECT path, name, enabled FROM applications ORDER BY seq";
  static constexpr const char* kAnyEnabled = "SELECT EXISTS (SELECT 1 FROM applications WHERE enabled)";
  static constexpr const char* kPut =
      "INSERT INTO applications (path, name, enabled) VALUES (?1, ?2, ?3) "
      "ON CONFLICT (path) DO UPDATE SET name = excluded.name, enabled = excluded.enabled";
  static constexpr const char* kDelete = "DELETE FROM applications WHERE path = ?1";
  static constexpr const char* kUpdate =
      "UPDATE applications SET name = coalesce(?2, name), enabled = coalesce(?3, enabled) WHERE path = ?1";
};

template <>
struct TableSql<PortKey> {
  static constexpr int kNameIndex = 3;
  static constexpr const char* kFind =
      "SELECT number, protocol, name, enabled FROM open_ports WHERE number = ?1 AND protocol = ?2";
  static constexpr const char* kList = "SELECT number, protocol, name, enabled FROM open_ports ORDER BY seq";
  static constexpr const char* kAnyEnabled = "SELECT EXISTS (SELECT 1 FROM open_ports WHERE enabled)";
  static constexpr const char* kPut =
      "INSERT INTO open_ports (number, protocol, name, enabled) VALUES (?1, ?2, ?3, ?4) "
      "ON CONFLICT (number, protocol) DO UPDATE SET name = excluded.name, enabled = excluded.enabled";
  static constexpr const char* kDelete = "DELETE FROM open_ports WHERE number = ?1 AND protocol = ?2";
  static constexpr const char* kUpdate =
      "UPDATE open_ports SET name = coalesce(?3, name), enabled = coalesce(?4, enabled) "
      "WHERE number = ?1 AND protocol = ?2";
};

void BindKey(Use& use, const AppKey& key) { use.Bind(1, key); }

void BindKey(Use& use, const PortKey& key) {
  use.Bind(1, key.number);
  use.Bind(2, key.protocol);
}

void ReadKey(const Use& use, AppKey* key) { *key = use.Text16(0); }

void ReadKey(const Use& use, PortKey* key) {
  key->number = static_cast<LONG>(use.Int(0));
  key->protocol = static_cast<LONG>(use.Int(1));
}

template <class Key>
EntryRecord<Key> ReadEntry(const Use& use) {
  constexpr int nameColumn = TableSql<Key>::kNameIndex - 1;
  EntryRecord<Key> entry;
  ReadKey(use, &entry.key);
  entry.name = use.Text16(nameColumn);
  entry.enabled = use.Int(nameColumn + 1) != 0;
  return entry;
}

Status StepDone(sqlite3* db, Use& use, const char* doing) {
  const int rc = use.Step();
  return rc == SQLITE_DONE ? Status() : SqliteFailure(db, rc, doing);
}

}  // namespace

template <class Key>
int EntryTable<Key>::Prepare(sqlite3* db) {
  using Sql = TableSql<Key>;
  m_db = db;
  int rc = m_find.Prepare(db, Sql::kFind);
  if (rc == SQLITE_OK) rc = m_list.Prepare(db, Sql::kList);
  if (rc == SQLITE_OK) rc = m_anyEnabled.Prepare(db, Sql::kAnyEnabled);
  if (rc == SQLITE_OK) rc = m_put.Prepare(db, Sql::kPut);
  if (rc == SQLITE_OK) rc = m_delete.Prepare(db, Sql::kDelete);
  if (rc == SQLITE_OK) rc = m_update.Prepare(db, Sql::kUpdate);
  return rc;
}

template <class Key>
void EntryTable<Key>::Finalize() {
  for (SqliteStatement* statement : {&m_find, &m_list, &m_anyEnabled, &m_put, &m_delete, &m_update})
    statement->Finalize();
}

template <class Key>
Status EntryTable<Key>::Find(const Key& key, std::optional<EntryRecord<Key>>* entry) {
  Use use(m_find);
  BindKey(use, key);
  const int rc = use.Step();
  if (rc == SQLITE_ROW) {
    *entry = ReadEntry<Key>(use);
    return {};
  }
  entry->reset();
  return rc == SQLITE_DONE ? Status() : SqliteFailure(m_db, rc, "reading the firewall store");
}

template <class Key>
Status EntryTable<Key>::List(std::vector<EntryRecord<Key>>* entries) {
  entries->clear();
  Use use(m_list);
  int rc;
  while ((rc = use.Step()) == SQLITE_ROW) entries->push_back(ReadEntry<Key>(use));
  return rc == SQLITE_DONE ? Status() : SqliteFailure(m_db, rc, "reading the firewall store");
}

template <class Key>
Status EntryTable<Key>::AnyEnabled(bool* any) {
  Use use(m_anyEnabled);
  const int rc = use.Step();
  *any = rc == SQLITE_ROW && use.Int(0) != 0;
  return rc == SQLITE_ROW ? Status() : SqliteFailure(m_db, rc, "reading the firewall store");
}

template <class Key>
Status EntryTable<Key>::Put(const EntryRecord<Key>& entry) {
  constexpr int nameIndex = TableSql<Key>::kNameIndex;
  Use use(m_put);
  BindKey(use, entry.key);
  use.Bind(nameIndex, entry.name);
  use.Bind(nameIndex + 1, entry.enabled ? 1 : 0);
  return StepDone(m_db, use, "writing the firewall store");
}

template <class Key>
Status EntryTable<Key>::Delete(const Key& key) {
  Use use(m_delete);
  BindKey(use, key);
  return StepDone(m_db, use, "writing the firewall store");
}

template <class Key>
Status EntryTable<Key>::Update(const Key& key, const EntryChange& change) {
  constexpr int nameIndex = TableSql<Key>::kNameIndex;
  Use use(m_update);
  BindKey(use, key);
  if (change.name)
    use.Bind(nameIndex, *change.name);
  else
    use.BindNull(nameIndex);
  if (change.enabled)
    use.Bind(nameIndex + 1, *change.enabled ? 1 : 0);
  else
    use.BindNull(nameIndex + 1);
  const Status status = StepDone(m_db, use, "writing the firewall store");
  if (status.ok() && sqlite3_changes(m_db) == 0) return NotFound("no such entry");
  return status;
}

template class EntryTable<AppKey>;
template class EntryTable<PortKey>;

Status FirewallStore::Open(const std::string& path, std::unique_ptr<FirewallStore>* store, int busyTimeoutMs) {
  std::unique_ptr<FirewallStore> opened(new FirewallStore);
  opened->m_path = path;
  opened->m_busyTimeout = std::chrono::milliseconds(busyTimeoutMs);
  const Status status = opened->Connect();
  if (status.ok()) *store = std::move(opened);
  return status;
}

Status FirewallStore::Connect() {
  const std::string doing = "cannot open the firewall store " + m_path;
  const std::filesystem::path folder = std::filesystem::path(m_path).parent_path();
  std::error_code error;
  if (!folder.empty()) std::filesystem::create_directories(folder, error);
  if (error) {
    return AccessDenied(doing + ": cannot create its folder: " + error.message());
  }
  int rc =
      sqlite3_open_v2(m_path.c_str(), &m_db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX, nullptr);
  const Status status = rc == SQLITE_OK ? Prepare() : SqliteFailure(m_db, rc, doing);
  if (!status.ok()) {
    Disconnect();
    return status;
  }
  // The log is open now that the schema has been read: these are the files to keep to.
  m_files = IdentifyFiles();
  return {};
}

Status FirewallStore::Prepare() {
  const std::string doing = "cannot open the firewall store " + m_path;
  sqlite3_busy_handler(m_db, WaitWhileBusy, this);
  // The log is copied into the database by Commit, once it is known to be the log that
  // every process reads, rather than by SQLite inside the commit.
  sqlite3_wal_hook(m_db, NoteLogSize, this);

  // A store of a newer build is refused before anything of it is changed (even its journal).
  int version = 0;
  if (const Status status = ReadVersion(doing, &version); !status.ok()) return status;

  // The write-ahead log lets readers go on while another process writes; a full sync at
  // every commit makes each acknowledged change survive a crash or a power cut. Switching
  // to the log does not call the busy handler: two processes opening a new store at once
  // would fail without the retries.
  int rc;
  for (int attempt = 0;
       (rc = SqliteExec(m_db, "PRAGMA journal_mode = WAL")) == SQLITE_BUSY && WaitWhileBusy(this, attempt); ++attempt) {
  }
  if (rc != SQLITE_OK) return SqliteFailure(m_db, rc, doing);
  rc = SqliteExec(m_db, "PRAGMA synchronous = FULL");
  if (rc != SQLITE_OK) return SqliteFailure(m_db, rc, doing);

  const Status upgraded = Upgrade(doing);
  if (!upgraded.ok()) return upgraded;

  rc = m_begin.Prepare(m_db, "BEGIN IMMEDIATE");
  if (rc == SQLITE_OK) rc = m_commit.Prepare(m_db, "COMMIT");
  if (rc == SQLITE_OK) rc = m_rollback.Prepare(m_db, "ROLLBACK");
  if (rc == SQLITE_OK) rc = m_readEnabled.Prepare(m_db, "SELECT firewall_enabled FROM settings WHERE id = 1");
  if (rc == SQLITE_OK) rc = m_writeEnabled.Prepare(m_db, "UPDATE settings SET firewall_enabled = ?1 WHERE id = 1");
  if (rc == SQLITE_OK) rc = m_apps.Prepare(m_db);
  if (rc == SQLITE_OK) rc = m_ports.Prepare(m_db);
  return rc == SQLITE_OK ? Status() : SqliteFailure(m_db, rc, doing);
}

Status FirewallStore::ReadVersion(const std::string& doing, int* version) {
  SqliteStatement query;
  int rc = query.Prepare(m_db, "PRAGMA user_version");
  if (rc != SQLITE_OK) return SqliteFailure(m_db, rc, doing);
  Use use(query);
  rc = use.Step();
  if (rc != SQLITE_ROW) return SqliteFailure(m_db, rc, doing);
  *version = static_cast<int>(use.Int(0));
  if (*version <= kSchemaVersion) return {};
  return Failed(doing + ": it was written by a newer version of Brenvo (schema " + std::to_string(*version) +
                ", this one knows " + std::to_string(kSchemaVersion) + ")");
}

// Reads the version again and upgrades the store to this build's in one transaction, so
// that a store upgraded halfway never exists and two processes opening it at once upgrade
// it once.
Status FirewallStore::Upgrade(const std::string& doing) {
  const int rc = SqliteExec(m_db, "BEGIN IMMEDIATE");
  if (rc != SQLITE_OK) return SqliteFailure(m_db, rc, doing);
  int version = 0;
  Status status = ReadVersion(doing, &version);
  for (int step = version; status.ok() && step < kSchemaVersion; ++step) {
    const int upgraded = SqliteExec(m_db, kUpgrades[step]);
    if (upgraded != SQLITE_OK) status = SqliteFailure(m_db, upgraded, doing);
  }
  const std::string finish = version < kSchemaVersion
                                 ? "PRAGMA user_version = " + std::to_string(kSchemaVersion) + "; COMMIT"
                                 : std::string("COMMIT");
  if (status.ok())
    if (const int done = SqliteExec(m_db, finish.c_str()); done != SQLITE_OK) status = SqliteFailure(m_db, done, doing);
  if (!status.ok()) SqliteExec(m_db, "ROLLBACK");
  return status;
}

void FirewallStore::Disconnect() {
  // A log that is no longer the store's must not be copied into the database on the way out:
  // it would overwrite what other processes stored since.
  if (m_db && FilesReplaced()) sqlite3_db_config(m_db, SQLITE_DBCONFIG_NO_CKPT_ON_CLOSE, 1, nullptr);
  // Closed at once, not once its last statement goes: until every connection of this
  // process to the file is closed, SQLite takes the locks that were lost for still held.
  for (SqliteStatement* statement : {&m_begin, &m_commit, &m_rollback, &m_readEnabled, &m_writeEnabled})
    statement->Finalize();
  m_apps.Finalize();
  m_ports.Finalize();
  sqlite3_close(m_db);
  m_db = nullptr;
}

std::array<std::optional<FirewallStore::FileId>, 2> FirewallStore::IdentifyFiles() const {
  std::array<std::optional<FileId>, 2> files;
  const std::string paths[] = {m_path, m_path + "-wal"};
  for (std::size_t i = 0; i < files.size(); ++i) {
    struct stat status;
    if (stat(paths[i].c_str(), &status) == 0) files[i] = FileId{status.st_dev, status.st_ino};
  }
  return files;
}

Status FirewallStore::UseCurrentFiles() {
  if (m_db && !FilesReplaced()) return {};
  if (m_db) Disconnect();
  return Connect();
}

// SQLite's own handler naps longer and longer, so a process that changes the store again
// and again can keep another one out for seconds. Short, even naps let the waiter in
// between two changes.
int FirewallStore::WaitWhileBusy(void* context, int attempt) {
  auto* store = static_cast<FirewallStore*>(context);
  const auto now = std::chrono::steady_clock::now();
  if (attempt == 0) store->m_busySince = now;
  if (now - store->m_busySince >= store->m_busyTimeout) return 0;
  std::this_thread::sleep_for(std::chrono::microseconds(500));
  return 1;
}

int FirewallStore::NoteLogSize(void* store, sqlite3*, const char*, int frames) {
  static_cast<FirewallStore*>(store)->m_logFrames = frames;
  return SQLITE_OK;
}

FirewallStore::~FirewallStore() {
  if (m_db) Disconnect();
}

Status FirewallStore::Begin() {
  for (int attempt = 0;; ++attempt) {
    Status status = UseCurrentFiles();
    if (!status.ok()) return status;
    {
      Use use(m_begin);
      status = StepDone(m_db, use, "beginning a change of the firewall store");
    }
    // The files may have been replaced while this process waited for the write lock.
    if (!status.ok() || attempt == 1 || !FilesReplaced()) return status;
    Rollback();
  }
}

Status FirewallStore::Commit() {
  Status status;
  {
    Use use(m_commit);
    status = StepDone(m_db, use, "committing a change of the firewall store");
  }
  if (!status.ok()) return status;
  if (FilesReplaced()) {
    return Failed("committing a change of the firewall store " + m_path +
                  ": its files were replaced meanwhile; the change may be lost");
  }
  if (m_logFrames >= kCheckpointFrames)
    sqlite3_wal_checkpoint_v2(m_db, nullptr, SQLITE_CHECKPOINT_PASSIVE, nullptr, nullptr);
  return {};
}

void FirewallStore::Rollback() {
  {
    Use use(m_rollback);
    use.Step();
  }
  // Whatever failed, the next change starts from the files that other processes read; where
  // they cannot be opened now, that change tries again and tells why.
  (void)UseCurrentFiles();
}

Status FirewallStore::ReadFirewallEnabled(bool* on) {
  Use use(m_readEnabled);
  const int rc = use.Step();
  if (rc != SQLITE_ROW) return SqliteFailure(m_db, rc, "reading the firewall store");
  *on = use.Int(0) != 0;
  return {};
}

Status FirewallStore::WriteFirewallEnabled(bool on) {
  Use use(m_writeEnabled);
  use.Bind(1, on ? 1 : 0);
  return StepDone(m_db, use, "writing the firewall store");
}
