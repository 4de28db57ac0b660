#pragma once
// A thin layer over SQLite: an owned connection, prepared statements that reset
// themselves after each use, and results turned into failures with an explanation.
#include <sqlite3.h>

#include <cstdint>
#include <string>
#include <string_view>

#include "firewall/com/status.h"

// Turns a SQLite result into a failure with the database's message as its reason: kBusy
// when another process held the lock past the busy timeout, kFailed otherwise.
Status SqliteFailure(sqlite3* db, int rc, std::string_view doing);

class SqliteStatement {
 public:
  SqliteStatement() = default;
  SqliteStatement(const SqliteStatement&) = delete;
  SqliteStatement& operator=(const SqliteStatement&) = delete;
  ~SqliteStatement();

  int Prepare(sqlite3* db, const char* sql);
  // Lets the connection close; the statement may be prepared again, on another one.
  void Finalize();

  // One use of the statement: binds, steps and reads columns, and resets the statement
  // when it goes, so that no read stays open between calls.
  class Use {
   public:
    explicit Use(SqliteStatement& statement) : m_stmt(statement.m_stmt) {}
    Use(const Use&) = delete;
    Use& operator=(const Use&) = delete;
    ~Use();

    void Bind(int index, std::int64_t value);
    void Bind(int index, std::u16string_view blob);
    void BindNull(int index);
    int Step();
    std::int64_t Int(int column) const;
    std::u16string Text16(int column) const;

   private:
    sqlite3_stmt* m_stmt;
  };

 private:
  sqlite3_stmt* m_stmt = nullptr;
};

// Runs a statement that returns no rows.
int SqliteExec(sqlite3* db, const char* sql);
