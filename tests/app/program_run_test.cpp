// Runs the whole program in this process, as main() does, against a temporary store.
#include <gtest/gtest.h>
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QTabBar>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <functional>

#include "app/brenvo_main.h"
#include "app/firewall_app.h"
#include "app/firewall_dlg.h"
#include "firewall/service/service_registration.h"
#include "monitor/sniffer_dlg.h"
#include "pages/port_dlg.h"
#include "pages/program_dlg.h"
#include "resources/resource.h"
#include "tests/pages/list_rows.h"
#include "tests/support/recording_services.h"
#include "tests/support/silent_capture.h"
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
    RevokeFirewallService();
    QDir::setCurrent(m_previousDir);
  }

  // Starts the program; once its main window shows, acts on it and ends it with Exit.
  int Run(std::function<void(CfirewallDlg&)> action, std::vector<std::string> extraArgs = {}) {
    const std::string db = (m_dir.path() + "/firewall.db").toStdString();
    std::vector<std::string> args{"brenvo", "-platform", "offscreen", "--firewall=store", "--db", db};
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

// Types into an edit of a page, as the user would.
void Type(CDialog& page, int id, const QString& text) {
  auto* edit = qobject_cast<QLineEdit*>(page.GetDlgItem(id));
  ASSERT_NE(edit, nullptr) << id;
  QTest::keyClicks(edit, text);
}

TEST_F(ProgramRunTest, AProgramAndAPortAddedOnThePagesAreListedAfterARestart) {
  m_services.fileReply = QStringList{"/usr/bin/rsync"};
  EXPECT_EQ(Run([](CfirewallDlg& window) {
              CProgramDlg& programs = *window.m_pProgramPage;
              QTest::mouseClick(programs.GetDlgItem(IDC_BROWSE), Qt::LeftButton);
              Type(programs, IDC_PROGRAM_NAME, "Backup");
              QTest::mouseClick(programs.GetDlgItem(IDC_ADD_PROGRAM), Qt::LeftButton);

              QTabBar* tabs = window.m_tab.tabBar();
              QTest::mouseClick(tabs, Qt::LeftButton, {}, tabs->tabRect(1).center());
              CPortDlg& ports = *window.m_pPortPage;
              ASSERT_TRUE(ports.isVisible());
              Type(ports, IDC_PORT_NAME, "Backup daemon");
              Type(ports, IDC_PORT_NUMBER, "873");
              QTest::mouseClick(ports.GetDlgItem(IDC_ADD_PORT), Qt::LeftButton);
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
                  rows = window.m_pTrafficPage->m_tree.model()->rowCount();
                },
                {"--capture-file", capture, "--max-sessions", "2", "--max-segments", "16"}),
            0);
  EXPECT_EQ(rows, 16);
  // Ten sessions open at once through room for two: dropped sessions come back as new.
  EXPECT_GT(ReadFile(log).count("/*New session*/"), 10);
}

}  // namespace
