// The firewall operations over the real service and a temporary store: what they keep,
// what they refuse, and that nothing acknowledged is lost to another process or a crash.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sqlite3.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <map>
#include <memory>
#include <random>
#include <thread>

#include "firewall/com/com_object.h"
#include "firewall/com/com_ptr.h"
#include "firewall/com/com_runtime.h"
#include "firewall/local_registration.h"
#include "firewall/nft/enforcer.h"
#include "tests/firewall/store_client.h"
#include "tests/firewall/test_firewall.h"
#include "tests/support/temp_dir.h"

namespace {

class StoreFirewallTest : public ::testing::Test {
 protected:
  void SetUp() override {
    CoInitialize(nullptr);
    Register(FirewallStore::kDefaultBusyTimeoutMs);
  }
  void TearDown() override { RevokeFirewallClasses(); }

  void Register(int busyTimeoutMs) {
    ASSERT_TRUE(RegisterLocalFirewall(m_path, std::make_shared<StoreOnlyEnforcer>(), busyTimeoutMs).ok());
  }

  // A main window's firewall as at start: profile opened.
  std::unique_ptr<TestFirewall> Start() {
    auto firewall = std::make_unique<TestFirewall>();
    EXPECT_EQ(firewall->InitFirewallProfile(), FW_OK);
    return firewall;
  }

  TempDir m_dir;
  std::string m_path = m_dir.File("state/brenvo/firewall.db");
};

TEST_F(StoreFirewallTest, ANewStoreStartsOffAndKeepsTheSwitch) {
  BOOL on = TRUE;
  {
    auto firewall = Start();
    EXPECT_EQ(firewall->QueryFirewallOn(&on), FW_OK);
    EXPECT_EQ(on, FALSE);
    EXPECT_EQ(firewall->SwitchFirewallOn(), FW_OK);
  }
  EXPECT_EQ(Start()->QueryFirewallOn(&on), FW_OK);
  EXPECT_EQ(on, TRUE);
}

TEST_F(StoreFirewallTest, ChangesSurviveARestartInInsertionOrder) {
  {
    auto firewall = Start();
    EXPECT_EQ(firewall->AddPort(443, NET_FW_IP_PROTOCOL_TCP, u"https"), FW_OK);
    EXPECT_EQ(firewall->AddPort(53, NET_FW_IP_PROTOCOL_UDP, u"dns"), FW_OK);
    EXPECT_EQ(firewall->AddPort(22, NET_FW_IP_PROTOCOL_TCP, u"ssh"), FW_OK);
    EXPECT_EQ(firewall->AddPort(8080, NET_FW_IP_PROTOCOL_TCP, u"proxy"), FW_OK);
    EXPECT_EQ(firewall->TogglePortEnabled(443, NET_FW_IP_PROTOCOL_TCP, 1), FW_OK);
    EXPECT_EQ(firewall->RemovePort(22, NET_FW_IP_PROTOCOL_TCP), FW_OK);
    // Adding the disabled port again replaces it where it stands.
    EXPECT_EQ(firewall->TogglePortEnabled(53, NET_FW_IP_PROTOCOL_UDP, 1), FW_OK);
    EXPECT_EQ(firewall->AddPort(53, NET_FW_IP_PROTOCOL_UDP, u"resolver"), FW_OK);
    EXPECT_EQ(firewall->AddApp(u"/usr/bin/b", u"Bee"), FW_OK);
    EXPECT_EQ(firewall->AddApp(u"/usr/bin/a", u"Ay"), FW_OK);
    EXPECT_EQ(firewall->ToggleAppEnabled(u"/usr/bin/a", 1), FW_OK);
  }
  auto firewall = Start();
  firewall->ListOpenPorts();
  firewall->ListAuthorizedApps();
  EXPECT_EQ(
      firewall->portRows,
      (std::vector<PortRow>{{"https", "TCP", "443 ", 0}, {"resolver", "UDP", "53 ", 1}, {"proxy", "TCP", "8080 ", 1}}));
  EXPECT_EQ(firewall->programRows, (std::vector<ProgramRow>{{"Bee", "/usr/bin/b", 1}, {"Ay", "/usr/bin/a", 0}}));
}

TEST_F(StoreFirewallTest, WhatTheFirewallCannotEnforceIsRefusedAtItsStep) {
  auto firewall = Start();
  const std::size_t objects = ComObjectsInUse();
  const std::size_t strings = SysStringsInUse();
  EXPECT_EQ(firewall->AddPort(0, NET_FW_IP_PROTOCOL_TCP, u"zero"), FW_E_SET_PORT_NUMBER);
  EXPECT_EQ(firewall->AddPort(65536, NET_FW_IP_PROTOCOL_TCP, u"too big"), FW_E_SET_PORT_NUMBER);
  EXPECT_EQ(firewall->AddPort(65535, 99, u"odd protocol"), FW_E_SET_PROTOCOL);
  EXPECT_EQ(firewall->AddApp(u"bin/relative", u"relative"), FW_E_SET_IMAGE_PATH);
  EXPECT_EQ(ComObjectsInUse(), objects);
  EXPECT_EQ(SysStringsInUse(), strings);
  EXPECT_EQ(firewall->AddPort(65535, NET_FW_IP_PROTOCOL_UDP, u"top"), FW_OK);
  firewall->ListOpenPorts();
  firewall->ListAuthorizedApps();
  EXPECT_EQ(firewall->portRows, (std::vector<PortRow>{{"top", "UDP", "65535 ", 1}}));
  EXPECT_TRUE(firewall->programRows.empty());
}

TEST_F(StoreFirewallTest, NamesAndPathsComeBackExactlyAsGiven) {
  const std::u16string hostile[] = {
      u"\"; flush ruleset; \"", u"} } table inet brenvo { chain x {", u"line\nbreak\r\n",
      u"back\\slash\\\\",       u"unpaired \xD800 surrogate",         std::u16string(5000, u'\u20AC'),
  };
  auto firewall = Start();
  for (const std::u16string& text : hostile) {
    const std::u16string path = u"/opt/" + text;
    EXPECT_EQ(firewall->AddApp(path.c_str(), text.c_str()), FW_OK);
  }
  ComPtr<INetFwAuthorizedApplications> apps;
  ASSERT_EQ(firewall->m_pProfile->get_AuthorizedApplications(apps.ReleaseAndGetAddressOf()), S_OK);
  for (const std::u16string& text : hostile) {
    const std::u16string path = u"/opt/" + text;
    const UniqueBstr key(SysAllocString(path.c_str()));
    ComPtr<INetFwAuthorizedApplication> app;
    ASSERT_EQ(apps->Item(key.get(), app.ReleaseAndGetAddressOf()), S_OK);
    BSTR name = nullptr;
    ASSERT_EQ(app->get_Name(&name), S_OK);
    const UniqueBstr nameHolder(name);
    EXPECT_EQ(std::u16string(name, SysStringLen(name)), text);
  }
  firewall->ListAuthorizedApps();
  ASSERT_EQ(firewall->programRows.size(), std::size(hostile));
  EXPECT_EQ(firewall->programRows[0].name, "\"; flush ruleset; \"");
  EXPECT_EQ(firewall->programRows[4].name, "unpaired \xEF\xBF\xBD surrogate");
  EXPECT_EQ(firewall->programRows[5].name.size(), 255u);  // 85 three-byte characters
}

TEST_F(StoreFirewallTest, AStoreThatCannotBeOpenedEndsTheProgramWithItsReason) {
  std::filesystem::create_directories(std::filesystem::path(m_path).parent_path());
  std::ofstream(m_path) << std::string(4096, 'x');
  TestFirewall firewall;
  testing::internal::CaptureStderr();
  firewall.InitFirewallProfile();
  const std::string diagnostic = testing::internal::GetCapturedStderr();
  EXPECT_NE(diagnostic.find(m_path), std::string::npos) << diagnostic;
  EXPECT_NE(diagnostic.find("not a database"), std::string::npos) << diagnostic;
  EXPECT_EQ(firewall.unavailableShown, 1);
  EXPECT_EQ(firewall.exitedWith, std::vector<int>{1});

  // A folder that cannot be made: its parent is a file.
  const std::string unreachable = m_path + "/below-a-file/firewall.db";
  ASSERT_TRUE(RegisterLocalFirewall(unreachable, std::make_shared<StoreOnlyEnforcer>()).ok());
  TestFirewall second;
  testing::internal::CaptureStderr();
  second.InitFirewallProfile();
  EXPECT_NE(testing::internal::GetCapturedStderr().find("cannot create its folder"), std::string::npos);
  EXPECT_EQ(second.exitedWith, std::vector<int>{1});
}

TEST_F(StoreFirewallTest, AStoreBusyPastTheTimeoutFailsTheChange) {
  Register(100);
  auto firewall = Start();
  ASSERT_EQ(firewall->AddPort(22, NET_FW_IP_PROTOCOL_TCP, u"ssh"), FW_OK);
  sqlite3* other = nullptr;
  ASSERT_EQ(sqlite3_open(m_path.c_str(), &other), SQLITE_OK);
  ASSERT_EQ(sqlite3_exec(other, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr), SQLITE_OK);
  EXPECT_EQ(firewall->AddPort(80, NET_FW_IP_PROTOCOL_TCP, u"web"), FW_E_ADD_TO_COLLECTION);
  EXPECT_EQ(firewall->TogglePortEnabled(22, NET_FW_IP_PROTOCOL_TCP, 1), FW_E_PORT_ENABLED_STATE);
  EXPECT_EQ(firewall->SwitchFirewallOn(), FW_E_WRITE_FIREWALL_STATE);
  EXPECT_EQ(firewall->AddApp(u"/usr/bin/a", u"a"), FW_E_ADD_TO_COLLECTION);
  // Reads go on while another process writes.
  BOOL enabled = FALSE;
  EXPECT_EQ(firewall->QueryPortEnabled(22, NET_FW_IP_PROTOCOL_TCP, &enabled), FW_OK);
  EXPECT_EQ(enabled, TRUE);
  sqlite3_exec(other, "ROLLBACK", nullptr, nullptr, nullptr);
  sqlite3_close(other);
  EXPECT_EQ(firewall->AddPort(80, NET_FW_IP_PROTOCOL_TCP, u"web"), FW_OK);
}

TEST_F(StoreFirewallTest, AStoreThatCannotBeReadFailsTheOperationsInsteadOfLookingEmpty) {
  auto firewall = Start();
  ASSERT_EQ(firewall->AddPort(53, NET_FW_IP_PROTOCOL_UDP, u"dns"), FW_OK);
  ASSERT_EQ(firewall->AddApp(u"/usr/bin/a", u"a"), FW_OK);
  // Something else damages the store behind Brenvo's back: its tables are gone.
  sqlite3* other = nullptr;
  ASSERT_EQ(sqlite3_open(m_path.c_str(), &other), SQLITE_OK);
  ASSERT_EQ(sqlite3_exec(other, "DROP TABLE open_ports; DROP TABLE applications", nullptr, nullptr, nullptr),
            SQLITE_OK);
  sqlite3_close(other);

  BOOL enabled = TRUE;
  EXPECT_EQ(firewall->QueryPortEnabled(53, NET_FW_IP_PROTOCOL_UDP, &enabled), FW_E_PORT_COLLECTION);
  EXPECT_EQ(enabled, FALSE);
  EXPECT_EQ(firewall->RemovePort(53, NET_FW_IP_PROTOCOL_UDP), FW_E_PORT_COLLECTION);
  EXPECT_EQ(firewall->TogglePortEnabled(53, NET_FW_IP_PROTOCOL_UDP, 1), FW_E_PORT_COLLECTION);
  EXPECT_EQ(firewall->AddPort(80, NET_FW_IP_PROTOCOL_TCP, u"web"), FW_E_PORT_COLLECTION);
  enabled = TRUE;
  EXPECT_EQ(firewall->QueryAppEnabled(u"/usr/bin/a", &enabled), FW_E_APP_COLLECTION);
  EXPECT_EQ(enabled, FALSE);
  EXPECT_EQ(firewall->RemoveApp(u"/usr/bin/a"), FW_E_APP_COLLECTION);
  EXPECT_EQ(firewall->ToggleAppEnabled(u"/usr/bin/a", 1), FW_E_APP_COLLECTION);
}

// Runs `body` in a child process; its exit status is the child's result.
template <class Body>
pid_t Spawn(Body body) {
  const pid_t pid = fork();
  if (pid == 0) _exit(body());
  return pid;
}

int ExitStatus(pid_t pid) {
  int status = 0;
  waitpid(pid, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

TEST_F(StoreFirewallTest, TwoProcessesAddingAtOnceLoseNothing) {
  int start[2];
  ASSERT_EQ(pipe(start), 0);
  std::vector<pid_t> children;
  for (LONG first : {1000, 2000}) {
    children.push_back(Spawn([&, first] {
      close(start[1]);
      TestFirewall firewall;
      if (firewall.InitFirewallProfile() != FW_OK) return 2;
      char go;
      if (read(start[0], &go, 1) != 0) return 3;  // both start when the pipe closes
      int failures = 0;
      for (LONG port = first; port < first + 200; ++port)
        failures += firewall.AddPort(port, NET_FW_IP_PROTOCOL_TCP, u"concurrent") != FW_OK;
      return failures == 0 ? 0 : 1;
    }));
  }
  close(start[0]);
  close(start[1]);
  for (pid_t child : children) EXPECT_EQ(ExitStatus(child), 0);
  auto firewall = Start();
  firewall->ListOpenPorts();
  EXPECT_EQ(firewall->portRows.size(), 400u);
}

// One acknowledged change of the crashing child.
struct Ack {
  int toggle;  // 0: port added, 1: port disabled
  LONG port;
};

TEST_F(StoreFirewallTest, AcknowledgedChangesSurviveAKillAtAnyMoment) {
  std::mt19937 random(20240607);
  std::map<LONG, bool> expectedEnabled;  // what every acknowledged change left
  for (int round = 0; round < 20; ++round) {
    int acks[2];
    ASSERT_EQ(pipe(acks), 0);
    const LONG first = 1 + round * 3000;
    const pid_t child = Spawn([&] {
      close(acks[0]);
      TestFirewall firewall;
      if (firewall.InitFirewallProfile() != FW_OK) return 2;
      for (LONG port = first; port < first + 3000; ++port) {
        if (firewall.AddPort(port, NET_FW_IP_PROTOCOL_UDP, u"crash") != FW_OK) return 1;
        Ack ack{0, port};
        if (write(acks[1], &ack, sizeof ack) != sizeof ack) return 1;
        if (port % 3 == 0) {
          if (firewall.TogglePortEnabled(port, NET_FW_IP_PROTOCOL_UDP, 1) != FW_OK) return 1;
          ack.toggle = 1;
          if (write(acks[1], &ack, sizeof ack) != sizeof ack) return 1;
        }
      }
      return 0;
    });
    close(acks[1]);
    // The kill comes at a random moment once the child is under way.
    Ack ack;
    ASSERT_EQ(read(acks[0], &ack, sizeof ack), static_cast<ssize_t>(sizeof ack)) << "round " << round;
    expectedEnabled[ack.port] = true;
    std::this_thread::sleep_for(std::chrono::microseconds(std::uniform_int_distribution<int>(0, 40000)(random)));
    kill(child, SIGKILL);
    EXPECT_EQ(ExitStatus(child), 128 + SIGKILL);
    while (read(acks[0], &ack, sizeof ack) == sizeof ack) expectedEnabled[ack.port] = ack.toggle == 0;
    close(acks[0]);
  }

  EXPECT_EQ(IntegrityCheck(m_path), "ok");

  auto firewall = Start();
  for (const auto& [port, enabled] : expectedEnabled) {
    BOOL stored = !enabled;
    EXPECT_EQ(firewall->QueryPortEnabled(port, NET_FW_IP_PROTOCOL_UDP, &stored), FW_OK);
    // An add that was acknowledged is there; if only the toggle went unacknowledged, it
    // may still have been committed.
    if (!enabled || port % 3 != 0) {
      EXPECT_EQ(stored, enabled ? TRUE : FALSE) << port;
    }
  }
  firewall->ListOpenPorts();
  EXPECT_GE(firewall->portRows.size(), expectedEnabled.size());
}

// What any code of this process that opens and closes the store's files does: the close
// drops every POSIX lock the process holds on them, SQLite's included.
void OpenAndCloseTheStoreFiles(const std::string& path) {
  for (const char* suffix : {"", "-wal", "-shm"}) close(open((path + suffix).c_str(), O_RDONLY | O_CLOEXEC));
}

TEST_F(StoreFirewallTest, AStoreWhoseLocksThisProcessLostKeepsTheChangesOfBothProcesses) {
  auto firewall = Start();
  ASSERT_EQ(firewall->AddPort(53, NET_FW_IP_PROTOCOL_TCP, u"dns"), FW_OK);
  OpenAndCloseTheStoreFiles(m_path);
  // Finding no lock, the other process takes the store for unused: leaving, it copies the
  // log into the database and deletes it under this process's connection.
  EXPECT_EQ(RunStoreClient(m_path, {"has", "53"}), 0);
  EXPECT_EQ(firewall->AddPort(54, NET_FW_IP_PROTOCOL_TCP, u"second"), FW_OK);
  EXPECT_EQ(RunStoreClient(m_path, {"has", "54"}), 0) << "an acknowledged change that no other process sees";
  EXPECT_EQ(RunStoreClient(m_path, {"add", "9999"}), 0);
  EXPECT_EQ(firewall->AddPort(55, NET_FW_IP_PROTOCOL_TCP, u"third"), FW_OK);
  BOOL enabled = FALSE;
  EXPECT_EQ(firewall->QueryPortEnabled(9999, NET_FW_IP_PROTOCOL_TCP, &enabled), FW_OK);
  EXPECT_EQ(enabled, TRUE) << "this process does not see the other's change";
  firewall.reset();

  EXPECT_EQ(RunStoreClient(m_path, {"has", "53", "54", "55", "9999"}), 0);
  EXPECT_EQ(IntegrityCheck(m_path), "ok");
}

TEST_F(StoreFirewallTest, AStoreDeletedUnderTheWindowIsMadeAgainRatherThanWrittenIntoTheVoid) {
  auto firewall = Start();
  ASSERT_EQ(firewall->AddPort(53, NET_FW_IP_PROTOCOL_TCP, u"dns"), FW_OK);
  const std::filesystem::path folder = std::filesystem::path(m_path).parent_path();
  std::filesystem::remove_all(folder);
  // While no store can be made there, every operation fails, and says so.
  std::ofstream(folder) << "not a folder";
  EXPECT_EQ(firewall->AddPort(54, NET_FW_IP_PROTOCOL_TCP, u"nowhere"), FW_E_PORT_COLLECTION);
  BOOL on = TRUE;
  EXPECT_EQ(firewall->QueryFirewallOn(&on), FW_E_READ_FIREWALL_STATE);
  EXPECT_EQ(firewall->SwitchFirewallOn(), FW_E_READ_FIREWALL_STATE);
  std::filesystem::remove(folder);
  EXPECT_EQ(firewall->AddPort(55, NET_FW_IP_PROTOCOL_TCP, u"kept"), FW_OK);
  firewall.reset();
  EXPECT_EQ(RunStoreClient(m_path, {"has", "55"}), 0);
}

}  // namespace
