#include "firewall/store/sqlite_db.h"

#include <cstring>

Status SqliteFailure(sqlite3* db, int rc, std::string_view doing) {
  std::string text(doing);
  text += ": ";
  text += db ? sqlite3_errmsg(db) : sqlite3_errstr(rc);
  const int primary = rc & 0xFF;
  return primary == SQLITE_BUSY || primary == SQLITE_LOCKED ? Busy(std::move(text)) : Failed(std::move(text));
}

SqliteStatement::~SqliteStatement() { sqlite3_finalize(m_stmt); }

int SqliteStatement::Prepare(sqlite3* db, const char* sql) {
  return sqlite3_prepare_v3(db, sql, -1, SQLITE_PREPARE_PERSISTENT, &m_stmt, nullptr);
}

void SqliteStatement::Finalize() {
  sqlite3_finalize(m_stmt);
  m_stmt = nullptr;
}

SqliteStatement::Use::~Use() {
  // A statement whose connection could not be made again is null: its step just fails.
  if (!m_stmt) return;
  sqlite3_reset(m_stmt);
  sqlite3_clear_bindings(m_stmt);
}

void SqliteStatement::Use::Bind(int index, std::int64_t value) { sqlite3_bind_int64(m_stmt, index, value); }

// Names and paths are kept as the exact UTF-16 units they were given, so that any
// character, even an unpaired surrogate, comes back unchanged.
void SqliteStatement::Use::Bind(int index, std::u16string_view blob) {
  sqlite3_bind_blob64(m_stmt, index, blob.data(), blob.size() * sizeof(char16_t), SQLITE_TRANSIENT);
}

void SqliteStatement::Use::BindNull(int index) { sqlite3_bind_null(m_stmt, index); }

int SqliteStatement::Use::Step() { return sqlite3_step(m_stmt); }

std::int64_t SqliteStatement::Use::Int(int column) const { return sqlite3_column_int64(m_stmt, column); }

std::u16string SqliteStatement::Use::Text16(int column) const {
  // The blob may sit unaligned inside a database page, so it is copied byte by byte.
  const void* data = sqlite3_column_blob(m_stmt, column);
  std::u16string text(static_cast<std::size_t>(sqlite3_column_bytes(m_stmt, column)) / sizeof(char16_t), u'\0');
  if (data) std::memcpy(text.data(), data, text.size() * sizeof(char16_t));
  return text;
}

int SqliteExec(sqlite3* db, const char* sql) { return sqlite3_exec(db, sql, nullptr, nullptr, nullptr); }
