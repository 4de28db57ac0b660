#pragma once
// The store client (store_client.cpp) run as a process of its own, and what a test asks of a
// store file once everyone is done with it. A target that includes this defines STORE_CLIENT
// as the client's path.
#include <sqlite3.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>
#include <vector>

// Runs `store_client database arguments...` and waits for it; its exit status. It is started
// afresh rather than forked: a forked child would share this process's idea of which
// locks it holds on the store.
inline int RunStoreClient(const std::string& database, std::vector<std::string> arguments) {
  arguments.insert(arguments.begin(), {STORE_CLIENT, database});
  std::vector<char*> argv;
  for (std::string& argument : arguments) argv.push_back(argument.data());
  argv.push_back(nullptr);
  const pid_t pid = fork();
  if (pid == 0) {
    execv(argv[0], argv.data());
    _exit(127);
  }
  int status = 0;
  waitpid(pid, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

// What SQLite's integrity check says of the store: "ok" for a sound one.
inline std::string IntegrityCheck(const std::string& database) {
  sqlite3* db = nullptr;
  sqlite3_stmt* check = nullptr;
  std::string verdict = "cannot be opened";
  if (sqlite3_open_v2(database.c_str(), &db, SQLITE_OPEN_READWRITE, nullptr) == SQLITE_OK &&
      sqlite3_prepare_v2(db, "PRAGMA integrity_check", -1, &check, nullptr) == SQLITE_OK &&
      sqlite3_step(check) == SQLITE_ROW)
    verdict = reinterpret_cast<const char*>(sqlite3_column_text(check, 0));
  sqlite3_finalize(check);
  sqlite3_close(db);
  return verdict;
}
