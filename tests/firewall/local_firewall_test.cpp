// The store and what every change asks of the enforcer.
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <fstream>
#include <iterator>

#include "firewall/local_firewall.h"
#include "tests/firewall/recording_enforcer.h"
#include "tests/support/status_kind.h"
#include "tests/support/temp_dir.h"

namespace {

using Calls = std::vector<std::string>;

PortRecord Port(LONG number, LONG protocol, bool enabled = true) {
  return PortRecord{PortKey{number, protocol}, u"port", enabled};
}

class LocalFirewallTest : public ::testing::Test {
 protected:
  void SetUp() override { Reopen(); }

  void Reopen() {
    m_service.reset();
    std::unique_ptr<FirewallStore> store;
    ASSERT_TRUE(FirewallStore::Open(m_path, &store, 100).ok());
    m_service = std::make_unique<LocalFirewall>(std::move(store), m_enforcer);
  }
  // The calls made since the last look.
  Calls TakeCalls() { return std::exchange(m_enforcer->calls, {}); }
  std::optional<PortRecord> Find(LONG number, LONG protocol) {
    std::optional<PortRecord> port;
    EXPECT_TRUE(m_service->Find(PortKey{number, protocol}, &port).ok());
    return port;
  }

  TempDir m_dir;
  std::string m_path = m_dir.File("made/on/demand/firewall.db");
  std::shared_ptr<RecordingEnforcer> m_enforcer = std::make_shared<RecordingEnforcer>();
  std::unique_ptr<LocalFirewall> m_service;
};

TEST_F(LocalFirewallTest, PortChangesReachTheKernelWhetherTheFirewallIsOnOrOff) {
  EXPECT_TRUE(m_service->Add(Port(80, 6)).ok());
  EXPECT_EQ(TakeCalls(), Calls{"open 80/6"});
  EXPECT_TRUE(m_service->WriteFirewallEnabled(true).ok());
  EXPECT_EQ(TakeCalls(), Calls{"switch on"});

  EXPECT_TRUE(m_service->Add(Port(53, 17)).ok());
  EXPECT_TRUE(m_service->Add(Port(53, 17)).ok());  // replaced, still open: nothing to do
  EXPECT_TRUE(m_service->Add(Port(22, 6, false)).ok());
  EXPECT_EQ(TakeCalls(), Calls{"open 53/17"});

  EXPECT_TRUE(m_service->Update(PortKey{80, 6}, EntryChange{u"renamed", std::nullopt}).ok());
  EXPECT_TRUE(m_service->Update(PortKey{80, 6}, EntryChange{std::nullopt, false}).ok());
  EXPECT_TRUE(m_service->Update(PortKey{22, 6}, EntryChange{std::nullopt, true}).ok());
  EXPECT_EQ(TakeCalls(), (Calls{"close 80/6", "open 22/6"}));
  EXPECT_EQ(Find(80, 6)->name, u"renamed");
  EXPECT_FALSE(Find(80, 6)->enabled);

  EXPECT_TRUE(m_service->Remove(PortKey{80, 6}).ok());  // disabled: already closed
  EXPECT_TRUE(m_service->Remove(PortKey{22, 6}).ok());
  EXPECT_TRUE(m_service->Remove(PortKey{9, 6}).ok());  // absent
  EXPECT_EQ(KindOf(m_service->Update(PortKey{9, 6}, EntryChange{std::nullopt, true})), FailureKind::kNotFound);
  EXPECT_EQ(TakeCalls(), Calls{"close 22/6"});

  EXPECT_TRUE(m_service->WriteFirewallEnabled(false).ok());
  EXPECT_TRUE(m_service->Add(Port(443, 6)).ok());
  EXPECT_EQ(TakeCalls(), (Calls{"switch off", "open 443/6"}));
  EXPECT_TRUE(m_service->ApplyAll().ok());
  EXPECT_EQ(TakeCalls(), Calls{"replace off 53/17 443/6"});
}

TEST_F(LocalFirewallTest, EnablingOrDisablingAnApplicationReachesTheKernel) {
  EXPECT_TRUE(m_service->Add(AppRecord{u"/usr/bin/a", u"a", true}).ok());
  EXPECT_TRUE(m_service->Add(AppRecord{u"/usr/bin/b", u"b", false}).ok());  // disabled: nothing to do
  EXPECT_TRUE(m_service->Add(AppRecord{u"/usr/bin/a", u"renamed", true}).ok());
  EXPECT_TRUE(m_service->Update(AppKey(u"/usr/bin/a"), EntryChange{u"again", std::nullopt}).ok());
  EXPECT_TRUE(m_service->Update(AppKey(u"/usr/bin/a"), EntryChange{std::nullopt, false}).ok());
  EXPECT_EQ(TakeCalls(), (Calls{"authorize /usr/bin/a", "unauthorize /usr/bin/a (none left)"}));

  EXPECT_TRUE(m_service->Update(AppKey(u"/usr/bin/b"), EntryChange{std::nullopt, true}).ok());
  EXPECT_TRUE(m_service->Update(AppKey(u"/usr/bin/a"), EntryChange{std::nullopt, true}).ok());
  EXPECT_TRUE(m_service->Remove(AppKey(u"/usr/bin/a")).ok());
  EXPECT_EQ(TakeCalls(), (Calls{"authorize /usr/bin/b", "authorize /usr/bin/a", "unauthorize /usr/bin/a"}));

  // A path that no file can have is stored, and authorizes nothing.
  EXPECT_TRUE(m_service->Add(AppRecord{std::u16string(u"/usr/bin/b\0x", 12), u"nul", true}).ok());
  EXPECT_TRUE(m_service->Add(AppRecord{u"/usr/bin/\xD800", u"surrogate", true}).ok());
  EXPECT_TRUE(m_service->WriteFirewallEnabled(true).ok());
  EXPECT_TRUE(m_service->ApplyAll().ok());
  EXPECT_EQ(TakeCalls(), (Calls{"authorize ", "authorize ", "switch on", "replace on /usr/bin/b"}));

  // Refused by the kernel and again when rebuilt: not kept.
  m_enforcer->refuseChange = 1;
  m_enforcer->refuseReplace = 1;
  EXPECT_FALSE(m_service->Remove(AppKey(u"/usr/bin/b")).ok());
  EXPECT_EQ(TakeCalls(), (Calls{"unauthorize /usr/bin/b", "replace on"}));
  std::optional<AppRecord> kept;
  EXPECT_TRUE(m_service->Find(AppKey(u"/usr/bin/b"), &kept).ok());
  EXPECT_TRUE(kept && kept->enabled);
}

TEST_F(LocalFirewallTest, AChangeTheKernelRefusesIsNotKept) {
  ASSERT_TRUE(m_service->WriteFirewallEnabled(true).ok());
  ASSERT_TRUE(m_service->Add(Port(22, 6)).ok());
  TakeCalls();
  m_enforcer->refuseChange = 1;
  m_enforcer->refuseReplace = 1;
  const Status refused = m_service->Add(Port(80, 6));
  EXPECT_EQ(KindOf(refused), FailureKind::kFailed);
  EXPECT_EQ(refused.reason(), "refused by the test");
  EXPECT_EQ(TakeCalls(), (Calls{"open 80/6", "replace on 22/6 80/6"}));
  EXPECT_FALSE(Find(80, 6));

  m_enforcer->refuseChange = 1;
  m_enforcer->refuseReplace = 1;
  EXPECT_FALSE(m_service->Update(PortKey{22, 6}, EntryChange{std::nullopt, false}).ok());
  EXPECT_TRUE(Find(22, 6)->enabled);
  m_enforcer->refuseChange = 1;
  m_enforcer->refuseReplace = 1;
  EXPECT_FALSE(m_service->WriteFirewallEnabled(false).ok());
  const Result<bool> on = m_service->ReadFirewallEnabled();
  ASSERT_TRUE(on.ok());
  EXPECT_TRUE(*on);
  Reopen();  // nothing of the refused changes reached the file either
  EXPECT_FALSE(Find(80, 6));
  EXPECT_TRUE(Find(22, 6)->enabled);
}

TEST_F(LocalFirewallTest, AKernelThatLostTheTableGetsItBackAtTheNextChange) {
  ASSERT_TRUE(m_service->WriteFirewallEnabled(true).ok());
  ASSERT_TRUE(m_service->Add(Port(22, 6)).ok());
  TakeCalls();
  m_enforcer->refuseChange = 1;
  EXPECT_TRUE(m_service->Add(Port(8080, 6)).ok());
  EXPECT_EQ(TakeCalls(), (Calls{"open 8080/6", "replace on 22/6 8080/6"}));
  EXPECT_TRUE(m_service->ApplyAll().ok());
  EXPECT_EQ(TakeCalls(), Calls{"replace on 22/6 8080/6"});
}

TEST_F(LocalFirewallTest, TheStoreKeepsEntriesVerbatimInOrderAcrossReopening) {
  const std::u16string odd{u'a', u'\0', u'\xDFFF', u'"', u'\n'};
  ASSERT_TRUE(m_service->Add(AppRecord{u"/b" + odd, odd, false}).ok());
  ASSERT_TRUE(m_service->Add(AppRecord{u"/a", u"first", true}).ok());
  ASSERT_TRUE(m_service->Add(AppRecord{u"/b" + odd, u"replaced", true}).ok());
  ASSERT_TRUE(m_service->Remove(AppKey(u"/absent")).ok());
  Reopen();
  std::vector<AppRecord> apps;
  ASSERT_TRUE(m_service->List(&apps).ok());
  ASSERT_EQ(apps.size(), 2u);
  EXPECT_EQ(apps[0].key, u"/b" + odd);
  EXPECT_EQ(apps[0].name, u"replaced");
  EXPECT_TRUE(apps[0].enabled);
  EXPECT_EQ(apps[1].key, u"/a");
  ASSERT_TRUE(m_service->Update(AppKey(u"/a"), EntryChange{odd, std::nullopt}).ok());
  std::optional<AppRecord> app;
  ASSERT_TRUE(m_service->Find(AppKey(u"/a"), &app).ok());
  EXPECT_EQ(app->name, odd);
  EXPECT_TRUE(app->enabled);
}

// A store as the first version with a schema wrote it, rules and all: an upgrade keeps them.
TEST_F(LocalFirewallTest, AStoreOfTheFirstVersionOpensWithEveryRule) {
  m_service.reset();
  const std::string path = m_dir.File("first.db");
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open(path.c_str(), &db), SQLITE_OK);
  const char* firstVersion =
      "PRAGMA journal_mode = WAL;"
      "CREATE TABLE settings (id INTEGER PRIMARY KEY CHECK (id = 1), firewall_enabled INTEGER NOT NULL);"
      "INSERT INTO settings VALUES (1, 1);"
      "CREATE TABLE applications (seq INTEGER PRIMARY KEY, path BLOB NOT NULL UNIQUE, name BLOB NOT NULL,"
      "  enabled INTEGER NOT NULL);"
      "INSERT INTO applications (path, name, enabled) VALUES (CAST(X'2F00610000D8' AS BLOB), X'4100', 0);"
      "CREATE TABLE open_ports (seq INTEGER PRIMARY KEY, number INTEGER NOT NULL, protocol INTEGER NOT NULL,"
      "  name BLOB NOT NULL, enabled INTEGER NOT NULL, UNIQUE (number, protocol));"
      "INSERT INTO open_ports (number, protocol, name, enabled) VALUES (8080, 6, X'77006500620020002E00', 1);"
      "INSERT INTO open_ports (number, protocol, name, enabled) VALUES (53, 17, X'44004E005300', 0);"
      "PRAGMA user_version = 1;";
  ASSERT_EQ(sqlite3_exec(db, firstVersion, nullptr, nullptr, nullptr), SQLITE_OK);
  sqlite3_close(db);

  std::unique_ptr<FirewallStore> store;
  const Status opened = FirewallStore::Open(path, &store);
  ASSERT_TRUE(opened.ok()) << opened.reason();
  LocalFirewall service(std::move(store), m_enforcer);
  const Result<bool> on = service.ReadFirewallEnabled();
  ASSERT_TRUE(on.ok());
  EXPECT_TRUE(*on);
  std::vector<AppRecord> apps;
  ASSERT_TRUE(service.List(&apps).ok());
  ASSERT_EQ(apps.size(), 1u);
  EXPECT_EQ(apps[0].key, (std::u16string{u'/', u'a', u'\xD800'}));
  EXPECT_EQ(apps[0].name, u"A");
  EXPECT_FALSE(apps[0].enabled);
  std::vector<PortRecord> ports;
  ASSERT_TRUE(service.List(&ports).ok());
  ASSERT_EQ(ports.size(), 2u);
  EXPECT_EQ(ports[0].key, (PortKey{8080, 6}));
  EXPECT_EQ(ports[0].name, u"web .");
  EXPECT_EQ(ports[1].key, (PortKey{53, 17}));
  EXPECT_FALSE(ports[1].enabled);
  EXPECT_TRUE(service.Add(Port(22, 6)).ok());
}

TEST_F(LocalFirewallTest, AStoreFromANewerVersionIsLeftUntouched) {
  m_service.reset();
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open(m_path.c_str(), &db), SQLITE_OK);
  ASSERT_EQ(sqlite3_exec(db, "PRAGMA journal_mode = DELETE; PRAGMA user_version = 2", nullptr, nullptr, nullptr),
            SQLITE_OK);
  sqlite3_close(db);
  const auto bytes = [&] {
    std::ifstream in(m_path, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), {});
  };
  const std::string before = bytes();
  std::unique_ptr<FirewallStore> store;
  const Status refused = FirewallStore::Open(m_path, &store);
  EXPECT_EQ(KindOf(refused), FailureKind::kFailed);
  EXPECT_NE(refused.reason().find("newer version of Brenvo (schema 2, this one knows 1)"), std::string::npos);
  EXPECT_EQ(store, nullptr);
  EXPECT_EQ(bytes(), before);
}

TEST_F(LocalFirewallTest, AChangeWaitsForAnotherProcessOnlyUntilTheBusyTimeout) {
  sqlite3* other = nullptr;
  ASSERT_EQ(sqlite3_open(m_path.c_str(), &other), SQLITE_OK);
  ASSERT_EQ(sqlite3_exec(other, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr), SQLITE_OK);
  const Status busy = m_service->Add(Port(80, 6));
  EXPECT_EQ(KindOf(busy), FailureKind::kBusy);
  EXPECT_NE(busy.reason().find("locked"), std::string::npos);
  sqlite3_exec(other, "COMMIT", nullptr, nullptr, nullptr);
  sqlite3_close(other);
  EXPECT_TRUE(m_service->Add(Port(80, 6)).ok());
}

}  // namespace
