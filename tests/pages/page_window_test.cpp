// What both pages owe the window they lie in: Escape never closes it, and they find it as
// their own top-level window.
#include <QApplication>
#include <QTest>

#include "resources/resource.h"
#include "tests/pages/page_fixture.h"
#include "tests/support/keyboard_focus.h"

namespace {

using PageWindowTest = PageTest;

TEST_F(PageWindowTest, EscapeDoesNothing) {
  OpenWindow();
  Type(*m_window->m_pProgramPage, IDC_PROGRAM_NAME, "Half typed");
  Type(*m_window->m_pPortPage, IDC_PORT_NUMBER, "44");
  for (auto [page, id] : {std::pair<CDialog*, int>{m_window->m_pProgramPage, IDC_PROGRAM_NAME},
                          {m_window->m_pProgramPage, IDC_PROGRAM_LIST},
                          {m_window->m_pPortPage, IDC_PORT_NUMBER},
                          {m_window->m_pPortPage, IDC_PORT_LIST}}) {
    QTest::keyClick(page->GetDlgItem(id), Qt::Key_Escape);
    EXPECT_TRUE(m_window->isVisible()) << id;
    EXPECT_TRUE(page->isVisible()) << id;
  }
  EXPECT_EQ(Text(*m_window->m_pProgramPage, IDC_PROGRAM_NAME), "Half typed");
  EXPECT_EQ(Text(*m_window->m_pPortPage, IDC_PORT_NUMBER), "44");
  EXPECT_TRUE(Messages().isEmpty());
}

TEST_F(PageWindowTest, TabStaysAmongTheTabStopsOfThePortsPage) {
  OpenWindow();
  CPortDlg& page = *m_window->m_pPortPage;
  QTest::mouseClick(page.GetDlgItem(IDC_PORT_NAME), Qt::LeftButton);
  EXPECT_EQ(PressAndFollowFocus(Qt::Key_Tab, 4),
            (std::vector<int>{IDC_PORT_NUMBER, IDC_ADD_PORT, IDC_PORT_LIST, IDC_PORT_NAME}));
  EXPECT_EQ(PressAndFollowFocus(Qt::Key_Backtab, 4, Qt::ShiftModifier),
            (std::vector<int>{IDC_PORT_LIST, IDC_ADD_PORT, IDC_PORT_NUMBER, IDC_PORT_NAME}));

  // From a radio button, which Tab never reaches, Tab goes on to the next tab stop; the
  // arrows stay in the button's group and choose the protocol as a click does.
  QTest::mouseClick(page.GetDlgItem(IDC_TCP), Qt::LeftButton);
  EXPECT_EQ(PressAndFollowFocus(Qt::Key_Down, 2), (std::vector<int>{IDC_UDP, IDC_TCP}));
  EXPECT_EQ(PressAndFollowFocus(Qt::Key_Left, 1), std::vector<int>{IDC_UDP});
  EXPECT_EQ(page.m_nProtocol, 2);
  EXPECT_EQ(page.IsDlgButtonChecked(IDC_UDP), 1u);
  EXPECT_EQ(PressAndFollowFocus(Qt::Key_Tab, 1), std::vector<int>{IDC_PORT_NAME});
}

TEST_F(PageWindowTest, TheMainWindowIsFoundWhileAnotherWindowIsActive) {
  StorePort(22, NET_FW_IP_PROTOCOL_TCP, u"Shell", true);
  OpenWindow();
  QWidget other;
  other.show();
  QApplication::setActiveWindow(&other);
  ASSERT_NE(QApplication::activeWindow(), m_window.get());
  ClickCell(m_window->m_pPortPage->m_list, 0, 0);
  EXPECT_EQ(StoredPorts(), QStringList{"Shell|22/6|0"});
}

TEST_F(PageWindowTest, APageOutsideAMainWindowLeavesTheFirewallAlone) {
  StoreApp(u"/usr/bin/ssh", u"Secure shell", true);
  StorePort(22, NET_FW_IP_PROTOCOL_TCP, u"Shell", true);
  CProgramDlg programs(nullptr);
  programs.Create(IDD_PROGRAM_PAGE, nullptr);
  CPortDlg ports(nullptr);
  ports.Create(IDD_PORT_PAGE, nullptr);
  programs.show();
  ports.show();
  programs.AddProgramRow("Secure shell", "/usr/bin/ssh", 1);
  ports.AddPortRow("Shell", "TCP", "22 ", 1);

  for (int column : {0, 2}) ClickCell(programs.m_list, 0, column);
  for (int column : {0, 4}) ClickCell(ports.m_list, 0, column);
  m_services.fileReply = QStringList{"/usr/bin/telnet"};
  Click(programs, IDC_BROWSE);
  Type(programs, IDC_PROGRAM_NAME, "Telnet");
  Click(programs, IDC_ADD_PROGRAM);
  Type(ports, IDC_PORT_NAME, "Telnet");
  Type(ports, IDC_PORT_NUMBER, "23");
  Click(ports, IDC_ADD_PORT);

  EXPECT_EQ(Rows(programs), QStringList{"1|Secure shell|Remove|/usr/bin/ssh"});
  EXPECT_EQ(Rows(ports), QStringList{"1|Shell|22 |TCP|Remove"});
  EXPECT_EQ(StoredApps(), QStringList{"Secure shell|/usr/bin/ssh|1"});
  EXPECT_EQ(StoredPorts(), QStringList{"Shell|22/6|1"});
}

TEST_F(PageWindowTest, AHeaderClickChangesTheBoxesButNotTheStore) {
  StoreApp(u"/usr/bin/a", u"A", true);
  StoreApp(u"/usr/bin/b", u"B", false);
  StorePort(22, NET_FW_IP_PROTOCOL_TCP, u"Shell", false);
  OpenWindow();
  CProgramDlg& programs = *m_window->m_pProgramPage;
  ClickHeader(programs.m_list, 0);
  EXPECT_EQ(Rows(programs), (QStringList{"1|A|Remove|/usr/bin/a", "1|B|Remove|/usr/bin/b"}));
  ClickHeader(programs.m_list, 0);
  EXPECT_EQ(Rows(programs), (QStringList{"0|A|Remove|/usr/bin/a", "0|B|Remove|/usr/bin/b"}));
  ClickHeader(m_window->m_pPortPage->m_list, 0);
  EXPECT_EQ(Rows(*m_window->m_pPortPage), QStringList{"1|Shell|22 |TCP|Remove"});

  EXPECT_EQ(StoredApps(), (QStringList{"A|/usr/bin/a|1", "B|/usr/bin/b|0"}));
  EXPECT_EQ(StoredPorts(), QStringList{"Shell|22/6|0"});
}

}  // namespace
