// Runs the whole program in this process, as main() does, against a temporary store.
#include <QApplication>
#include <QDir>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <functional>
#include <gtest/gtest.h>

#include "app/brenvo_main.h"
#include "app/firewall_app.h"
#include "app/firewall_dlg.h"
#include "firewall/service/service_registration.h"
#include "resources/resource.h"
#include "tests/support/recording_services.h"
#include "tests/support/silent_capture.h"

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
  int Run(std::function<void(CfirewallDlg&)> action) {
    const std::string db = (m_dir.path() + "/firewall.db").toStdString();
    std::vector<std::string> args{"brenvo", "-platform", "offscreen", "--firewall=store", "--db", db};
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

}  // namespace
