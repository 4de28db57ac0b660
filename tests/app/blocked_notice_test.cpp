#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <QApplication>
#include <QDir>
#include <QLineEdit>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <thread>

#include "app/blocked_notice_dlg.h"
#include "app/blocked_watch.h"
#include "app/firewall_dlg.h"
#include "firewall/local_registration.h"
#include "firewall/nft/enforcer.h"
#include "firewall/store/firewall_store.h"
#include "firewall/verdicts/blocked_flows.h"
#include "pages/program_dlg.h"
#include "resources/resource.h"
#include "tests/app/notice_driving.h"
#include "tests/pages/list_rows.h"
#include "tests/support/recording_services.h"
#include "tests/support/silent_capture.h"

namespace {

constexpr const char* kServer = "/srv/bin/echo-server";
constexpr const char* kGame = "/opt/game/bin/game";

// A refused change is refused at once.
constexpr int kBusyTimeoutMs = 50;

// A main window over a temporary store whose notices are fed from a record of blocks kept
// by the test, as the firewall's enforcement keeps one.
class BlockedNoticeTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(m_dir.isValid());
    m_previousDir = QDir::currentPath();
    QDir::setCurrent(m_dir.path());
    ASSERT_TRUE(RegisterLocalFirewall(DatabasePath(), std::make_shared<StoreOnlyEnforcer>(), kBusyTimeoutMs).ok());
    SetBlockedSourceFactory([this] { return RecordBlockedSource(m_record); });
  }
  void TearDown() override {
    SetBlockedSourceFactory({});
    RevokeFirewallClasses();
    QDir::setCurrent(m_previousDir);
  }
  std::string DatabasePath() const { return (m_dir.path() + "/firewall.db").toStdString(); }

  template <class Action>
  void Run(Action action) {
    CfirewallDlg window;
    QTimer::singleShot(0, [&] {
      action(window);
      window.EndDialog(IDCANCEL);
    });
    window.DoModal();
  }

  // One blocked flow, recorded on a thread of its own as the enforcement records it; a
  // minute apart from the last, so that each is told.
  void Block(const std::string& program, std::uint8_t protocol, std::uint16_t port, const char* remote = "192.0.2.7",
             bool listening = true) {
    InboundFlow flow;
    flow.family = inet_pton(AF_INET, remote, flow.remoteAddress.data()) == 1 ? AF_INET : AF_INET6;
    if (flow.family == AF_INET6) inet_pton(AF_INET6, remote, flow.remoteAddress.data());
    flow.protocol = protocol;
    flow.localPort = port;
    flow.remotePort = 50000;
    m_now += std::chrono::minutes(2);
    std::thread([&] { m_record->Record(flow, BlockedHolder{listening, program, 4242, 1000}); }).join();
  }

  static std::string Shown(CfirewallDlg& window) { return NoticeText(window.m_pBlockedNotice).toStdString(); }
  static std::string ProgramRows(CfirewallDlg& window) {
    return ListRows(window.m_pProgramPage->m_list).join(u',').toStdString();
  }
  static void Click(CfirewallDlg& window, int id) { ClickNotice(*window.m_pBlockedNotice, id); }

  // The store's programs as "name|path|enabled", read past the window.
  std::string StoredApps() {
    std::unique_ptr<FirewallStore> store;
    std::vector<AppRecord> apps;
    EXPECT_TRUE(FirewallStore::Open(DatabasePath(), &store).ok());
    if (store) {
      EXPECT_TRUE(store->Table<AppKey>().List(&apps).ok());
    }
    QStringList texts;
    for (const AppRecord& app : apps)
      texts << QStringLiteral("%1|%2|%3")
                   .arg(QString::fromStdU16String(app.name), QString::fromStdU16String(app.key))
                   .arg(app.enabled);
    return texts.join(u',').toStdString();
  }

  QTemporaryDir m_dir;
  QString m_previousDir;
  ScopedRecordingServices m_services;
  ScopedSilentCapture m_capture;
  std::chrono::system_clock::time_point m_now{};
  std::shared_ptr<BlockedFlows> m_record = std::make_shared<BlockedFlows>([this] { return m_now; });
};

TEST_F(BlockedNoticeTest, OneNoticeAtATimeAndEachAnswerDoesWhatItSays) {
  Run([&](CfirewallDlg& window) {
    ASSERT_NE(window.m_pBlockedNotice, nullptr);
    CBlockedNoticeDlg& notice = *window.m_pBlockedNotice;

    // The block reaches the notice by a queued call, never on the recording thread.
    Block(kServer, IPPROTO_TCP, 7);
    EXPECT_EQ(Shown(window), "");
    QApplication::processEvents();
    EXPECT_EQ(Shown(window), "echo-server|/srv/bin/echo-server|TCP 7|192.0.2.7:50000|once");
    EXPECT_EQ(notice.windowTitle(), "Brenvo Firewall");
    EXPECT_TRUE(notice.isWindow());
    EXPECT_FALSE(notice.isModal());

    // Meanwhile: another program waits (its newest block wins), the shown one counts on, and
    // ports where nothing listened or whose program is unknown raise nothing.
    Block(kGame, IPPROTO_UDP, 27015, "2001:db8::7");
    Block(kServer, IPPROTO_TCP, 7);
    Block("", IPPROTO_TCP, 22, "192.0.2.9", false);
    Block("", IPPROTO_TCP, 23);
    Block(kGame, IPPROTO_UDP, 27015, "2001:db8::8");
    QApplication::processEvents();
    EXPECT_EQ(Shown(window), "echo-server|/srv/bin/echo-server|TCP 7|192.0.2.7:50000|2 times");

    Click(window, IDC_KEEP_BLOCKING);
    EXPECT_EQ(Shown(window), "game|/opt/game/bin/game|UDP 27015|[2001:db8::8]:50000|2 times");
    Click(window, IDCANCEL);
    EXPECT_EQ(Shown(window), "");

    // Kept blocking: that program and port only. Asked later (Escape too): shown again.
    Block(kServer, IPPROTO_TCP, 7);
    QApplication::processEvents();
    EXPECT_EQ(Shown(window), "");
    Block(kServer, IPPROTO_TCP, 8);
    QApplication::processEvents();
    EXPECT_EQ(Shown(window), "echo-server|/srv/bin/echo-server|TCP 8|192.0.2.7:50000|once");
    QTest::keyClick(notice.windowHandle(), Qt::Key_Escape);
    EXPECT_EQ(Shown(window), "");
    Block(kGame, IPPROTO_UDP, 27015);
    QApplication::processEvents();
    EXPECT_EQ(Shown(window), "game|/opt/game/bin/game|UDP 27015|192.0.2.7:50000|3 times");

    // Unblock: the program is authorized, enabled, named after its file, in place of the
    // disabled entry it had, and the page lists the one entry at once.
    const std::u16string gamePath = u"/opt/game/bin/game";
    ASSERT_EQ(window.AddApp(gamePath.c_str(), u"Old game"), FW_OK);
    ASSERT_EQ(window.ToggleAppEnabled(gamePath.c_str(), 1), FW_OK);
    window.m_pProgramPage->RebuildList(window);
    Click(window, IDC_UNBLOCK);
    EXPECT_EQ(Shown(window), "");
    EXPECT_EQ(StoredApps(), "game|/opt/game/bin/game|1");
    EXPECT_EQ(ProgramRows(window), "1|game|Remove|/opt/game/bin/game");
    EXPECT_TRUE(m_services.boxes.empty());

    // A refused Unblock says why and changes nothing; the notice stays for another answer.
    Block(kServer, IPPROTO_TCP, 8);
    QApplication::processEvents();
    {
      std::unique_ptr<FirewallStore> other;
      ASSERT_TRUE(FirewallStore::Open(DatabasePath(), &other).ok());
      ASSERT_TRUE(other->Begin().ok());
      Click(window, IDC_UNBLOCK);
      other->Rollback();
    }
    ASSERT_EQ(m_services.boxes.size(), 1u);
    // The store's own reason, not a made-up one.
    EXPECT_TRUE(m_services.boxes[0].text.contains("locked")) << m_services.boxes[0].text.toStdString();
    EXPECT_EQ(m_services.boxes[0].type, MB_ICONERROR | MB_OK);
    EXPECT_EQ(StoredApps(), "game|/opt/game/bin/game|1");
    EXPECT_EQ(ProgramRows(window), "1|game|Remove|/opt/game/bin/game");
    EXPECT_EQ(Shown(window), "echo-server|/srv/bin/echo-server|TCP 8|192.0.2.7:50000|2 times");
  });
}

TEST_F(BlockedNoticeTest, FewBlocksWaitTheNewestKept) {
  Run([&](CfirewallDlg& window) {
    for (std::uint16_t port = 1; port <= 20; ++port) Block(kServer, IPPROTO_TCP, port);
    QApplication::processEvents();
    std::vector<int> ports;
    while (!Shown(window).empty() && ports.size() < 30) {
      ports.push_back(window.m_pBlockedNotice->m_port.text().section(u' ', 1).toInt());
      Click(window, IDCANCEL);
    }
    static_assert(CBlockedNoticeDlg::kMostWaiting == 8);
    EXPECT_EQ(ports, (std::vector<int>{1, 13, 14, 15, 16, 17, 18, 19, 20}));
  });
}

TEST_F(BlockedNoticeTest, AWatchThatCannotStartLeavesTheWindowWorkingAndSaysWhyOnce) {
  class Unreachable final : public BlockedSource {
   public:
    Status Start(Listener) override { return Failed("the service is not on the bus"); }
  };
  SetBlockedSourceFactory([] { return std::make_unique<Unreachable>(); });
  bool ran = false;
  testing::internal::CaptureStderr();
  Run([&](CfirewallDlg& window) {
    ran = true;
    ASSERT_EQ(window.AddApp(u"/usr/bin/ssh", u"ssh"), FW_OK);
  });
  const std::string said = testing::internal::GetCapturedStderr();
  EXPECT_TRUE(ran);
  EXPECT_EQ(StoredApps(), "ssh|/usr/bin/ssh|1");
  EXPECT_EQ(said, "brenvo: blocked programs will not be shown: the service is not on the bus\n");
}

}  // namespace
