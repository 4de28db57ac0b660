// Runs the whole program in this process, as main() does, against a temporary store.
#include <gtest/gtest.h>
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QTabBar>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <functional>

#include "app/about_dlg.h"
#include "app/brenvo_main.h"
#include "app/firewall_app.h"
#include "app/firewall_dlg.h"
#include "firewall/local_registration.h"
#include "monitor/sniffer_dlg.h"
#include "pages/port_dlg.h"
#include "pages/program_dlg.h"
#include "resources/resource.h"
#include "tests/firewall/store_client.h"
#include "tests/pages/list_rows.h"
#include "tests/support/file_dialog_listing.h"
#include "tests/support/recording_services.h"
#include "tests/support/silent_capture.h"
#include "tests/support/without_net_admin.h"
#include "tools/synthetic_traffic.h"

CfirewallApp theApp;

namespace {

class ProgramRunTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(m_dir.isValid());
    m_previousDir = QDir::currentPath();
    QDir::setCurrent(m_dir.path());
  }
  void TearDown() override {
    RevokeFirewallClasses();
    QDir::setCurrent(m_previousDir);
  }

  // Starts the program; once its main window shows, acts on it and ends it with Exit.
  int Run(std::function<void(CfirewallDlg&)> action, std::vector<std::string> extraArgs = {}) {
    const std::string db = (m_dir.path() + "/firewall.db").toStdString();
    std::vector<std::string> args{"brenvo", "-platform", "offscreen", "--db", db};
    args.insert(args.end(), m_backendArgs.begin(), m_backendArgs.end());
    args.insert(args.end(), extraArgs.begin(), extraArgs.end());
    std::vector<char*> argv;
    for (std::string& arg : args) argv.push_back(arg.data());
    QTimer::singleShot(0, [action] {
      auto* window = dynamic_cast<CfirewallDlg*>(QApplication::activeModalWidget());
      ASSERT_NE(window, nullptr);
      action(*window);
      QTest::mouseClick(window->GetDlgItem(IDCANCEL), Qt::LeftButton);
    });
    return BrenvoMain(int(argv.size()), argv.data());
  }

  std::vector<std::string> m_backendArgs{"--firewall=store"};
  QTemporaryDir m_dir;
  QString m_previousDir;
  ScopedRecordingServices m_services;
  ScopedSilentCapture m_capture;
};

TEST_F(ProgramRunTest, TheFirewallStateSurvivesARestart) {
  EXPECT_EQ(Run([](CfirewallDlg& window) {
              EXPECT_EQ(window.IsDlgButtonChecked(IDC_FIREWALL_OFF), 1u);
              QTest::mouseClick(window.GetDlgItem(IDC_FIREWALL_ON), Qt::LeftButton);
            }),
            0);
  bool onChecked = false;
  bool openAfterEscape = false;
  EXPECT_EQ(Run([&](CfirewallDlg& window) {
              onChecked = window.IsDlgButtonChecked(IDC_FIREWALL_ON) == 1;
              // The second run has an application object of its own; its keys are filtered too.
              QTest::keyClick(&window, Qt::Key_Escape);
              openAfterEscape = window.isVisible();
            }),
            0);
  EXPECT_TRUE(onChecked);
  EXPECT_TRUE(openAfterEscape);
}

TEST_F(ProgramRunTest, AnAutomaticFallBackToTheStoreIsToldAtStartAndInTheAboutBox) {
  const WithoutNetAdmin dropped;
  m_backendArgs.clear();
  unsetenv("BRENVO_FIREWALL");
  QString rules;
  testing::internal::CaptureStderr();
  EXPECT_EQ(Run([&](CfirewallDlg& window) {
              QTimer::singleShot(0, [&] {
                auto* about = dynamic_cast<CAboutDlg*>(QApplication::activeModalWidget());
                ASSERT_NE(about, nullptr);
                rules = qobject_cast<QLabel*>(about->GetDlgItem(IDC_ABOUT_RULES))->text();
                about->close();
              });
              QTest::mouseClick(window.GetDlgItem(IDOK), Qt::LeftButton);
            }),
            0);
  const std::string errors = testing::internal::GetCapturedStderr();
  EXPECT_NE(errors.find("brenvo: firewall backend: store (automatic: this process may not change the kernel firewall)"),
            std::string::npos)
      << errors;
  EXPECT_EQ(rules, QStringLiteral("Rules: kept, not enforced"));
}

// Types into an edit of a page, as the user would.
void Type(CDialog& page, int id, const QString& text) {
  auto* edit = qobject_cast<QLineEdit*>(page.GetDlgItem(id));
  ASSERT_NE(edit, nullptr) << id;
  QTest::keyClicks(edit, text);
}

void ShowTab(CfirewallDlg& window, int index) {
  QTabBar* tabs = window.m_tab.tabBar();
  QTest::mouseClick(tabs, Qt::LeftButton, {}, tabs->tabRect(index).center());
}

void AddPortOnThePage(CfirewallDlg& window, const QString& name, const QString& number) {
  ShowTab(window, 1);
  ASSERT_TRUE(window.m_pPortPage->isVisible());
  Type(*window.m_pPortPage, IDC_PORT_NAME, name);
  Type(*window.m_pPortPage, IDC_PORT_NUMBER, number);
  QTest::mouseClick(window.m_pPortPage->GetDlgItem(IDC_ADD_PORT), Qt::LeftButton);
}

TEST_F(ProgramRunTest, AProgramAndAPortAddedOnThePagesAreListedAfterARestart) {
  m_services.fileReply = QStringList{"/usr/bin/rsync"};
  EXPECT_EQ(Run([](CfirewallDlg& window) {
              CProgramDlg& programs = *window.m_pProgramPage;
              QTest::mouseClick(programs.GetDlgItem(IDC_BROWSE), Qt::LeftButton);
              Type(programs, IDC_PROGRAM_NAME, "Backup");
              QTest::mouseClick(programs.GetDlgItem(IDC_ADD_PROGRAM), Qt::LeftButton);
              AddPortOnThePage(window, "Backup daemon", "873");
            }),
            0);
  QStringList programRows;
  QStringList portRows;
  EXPECT_EQ(Run([&](CfirewallDlg& window) {
              programRows = ListRows(window.m_pProgramPage->m_list);
              portRows = ListRows(window.m_pPortPage->m_list);
            }),
            0);
  EXPECT_EQ(programRows, QStringList{"1|Backup|Remove|/usr/bin/rsync"});
  EXPECT_EQ(portRows, QStringList{"1|Backup daemon|873 |TCP|Remove"});
  EXPECT_TRUE(m_services.boxes.empty());
}

TEST_F(ProgramRunTest, ACaptureFileFillsTheTreeAndTheLog) {
  const std::string capture = (m_dir.path() + "/traffic.pcapng").toStdString();
  ASSERT_TRUE(tools::WriteTrafficCapture(capture, 60, 5, tools::CaptureWriter::Format::Pcapng));
  int rows = 0;
  EXPECT_EQ(Run(
                [&](CfirewallDlg& window) {
                  const QAbstractItemModel* tree = window.m_pTrafficPage->m_tree.model();
                  EXPECT_TRUE(QTest::qWaitFor([&] { return tree->rowCount() == 60; }, 5000));
                  rows = tree->rowCount();
                },
                {"--capture-file", capture}),
            0);
  EXPECT_EQ(rows, 60);
  QFile log(m_dir.path() + "/Logger.txt");
  ASSERT_TRUE(log.open(QIODevice::ReadOnly));
  EXPECT_EQ(log.readAll().count("\r\n"), 60);
}

// The desktop's own open-file dialog, the other services still recorded.
class RealFileDialog final : public RecordingServices {
 public:
  std::optional<QStringList> OpenFileDialog(QWidget* owner, const QString& filter, bool allowMultiple) override {
    return DesktopModalServices().OpenFileDialog(owner, filter, allowMultiple);
  }
};

TEST_F(ProgramRunTest, EveryChangeIsKeptWhileTheFileDialogListsTheStoresFolderAndAnotherProcessUsesIt) {
  RealFileDialog realDialog;
  const ScopedModalServices services(realDialog);
  const std::string db = (m_dir.path() + "/firewall.db").toStdString();
  const QStringList storeFiles{"firewall.db", "firewall.db-wal", "firewall.db-shm"};
  bool listed = false;
  std::vector<int> others;  // what the other process reported, in turn
  EXPECT_EQ(Run([&](CfirewallDlg& window) {
              AddPortOnThePage(window, "Port 53", "53");
              // "Browse.." opens where the store is, the working directory; while it lists
              // the store's files, the other process reads the store. Then it is cancelled.
              CancelFileDialogOnceListed(QDir(m_dir.path()), storeFiles, &listed, [&] {
                others.push_back(RunStoreClient(db, {"has", "53"}));
              });
              ShowTab(window, 0);
              QTest::mouseClick(window.m_pProgramPage->GetDlgItem(IDC_BROWSE), Qt::LeftButton);
              others.push_back(RunStoreClient(db, {"has", "53"}));
              AddPortOnThePage(window, "Port 54", "54");
              others.push_back(RunStoreClient(db, {"has", "54"}));
              others.push_back(RunStoreClient(db, {"add", "9999"}));
              AddPortOnThePage(window, "Port 55", "55");
              others.push_back(RunStoreClient(db, {"has", "55"}));
            }),
            0);
  EXPECT_TRUE(listed);
  EXPECT_EQ(others, std::vector<int>(5, 0)) << "1: a port of the window that the other process does not see";
  EXPECT_EQ(RunStoreClient(db, {"has", "53", "54", "55", "9999"}), 0);
  EXPECT_EQ(IntegrityCheck(db), "ok");
}

QByteArray ReadFile(const QString& path) {
  QFile file(path);
  return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

TEST_F(ProgramRunTest, TheMonitorsBoundsComeFromTheCommandLine) {
  const std::string capture = (m_dir.path() + "/traffic.pcapng").toStdString();
  ASSERT_TRUE(tools::WriteTrafficCapture(capture, 60, 5, tools::CaptureWriter::Format::Pcapng));
  const QString log = m_dir.path() + "/Logger.txt";
  int rows = 0;
  EXPECT_EQ(Run(
                [&](CfirewallDlg& window) {
                  EXPECT_TRUE(QTest::qWaitFor([&] { return ReadFile(log).count("\r\n") == 60; }, 5000));
                  // The tree takes the logged segments from the capture thread shortly after.
                  const QAbstractItemModel* tree = window.m_pTrafficPage->m_tree.model();
                  QTest::qWaitFor([&] { return tree->rowCount() == 16; }, 5000);
                  rows = tree->rowCount();
                },
                {"--capture-file", capture, "--max-sessions", "2", "--max-segments", "16"}),
            0);
  EXPECT_EQ(rows, 16);
  // Ten sessions open at once through room for two: dropped sessions come back as new.
  EXPECT_GT(ReadFile(log).count("/*New session*/"), 10);
}

}  // namespace
