
#include "resources/resource.h"
#include "tests/pages/page_fixture.h"

namespace {

class PortPageTest : public PageTest {
 protected:
  CPortDlg& Page() { return *m_window->m_pPortPage; }
  QStringList Rows() { return PageTest::Rows(Page()); }

  void Add(const QString& number, const QString& name) {
    Type(Page(), IDC_PORT_NAME, name);
    Type(Page(), IDC_PORT_NUMBER, number);
    Click(Page(), IDC_ADD_PORT);
  }
  bool Checked(int id) { return Page().IsDlgButtonChecked(id) == 1; }
};

TEST_F(PortPageTest, ListsTheStoredPortsUnderItsColumns) {
  StorePort(443, NET_FW_IP_PROTOCOL_TCP, u"Web", true);
  StorePort(53, NET_FW_IP_PROTOCOL_UDP, u"Names", false);
  OpenWindow();

  EXPECT_EQ(Rows(), (QStringList{"1|Web|443 |TCP|Remove", "0|Names|53 |UDP|Remove"}));
  EXPECT_TRUE(Checked(IDC_TCP));
  EXPECT_FALSE(Checked(IDC_UDP));
  EXPECT_EQ(Page().m_nProtocol, 1);
  EXPECT_EQ(Page().m_list.width(), 503);
  EXPECT_EQ(HeaderItems(Page().m_list),
            (QStringList{"Enable:75:1", "Port Name:175:0", "Port Number:100:0", "Protocol:74:0", ":75:0"}));
}

TEST_F(PortPageTest, TheNumberIsCheckedBeforeTheName) {
  OpenWindow();
  for (const char* number : {"", "0", "-5", "abc", "-4294967216"}) Add(number, "Named");
  Add("", "");
  Add("8080", "");
  QStringList expected(6, "You most entre a number higher than 1");
  expected << "You most entre the name for this port";
  EXPECT_EQ(Messages(), expected);
  EXPECT_TRUE(Rows().isEmpty());
  EXPECT_TRUE(StoredPorts().isEmpty());
  // A refused input stays for the user to correct.
  EXPECT_EQ(Text(Page(), IDC_PORT_NUMBER), "8080");

  // Only numbers below 1 are refused.
  Add("1", "Lowest");
  EXPECT_EQ(Rows(), QStringList{"1|Lowest|1|TCP|Remove"});
  EXPECT_EQ(StoredPorts(), QStringList{"Lowest|1/6|1"});
}

TEST_F(PortPageTest, AddToggleTwiceAndRemove) {
  OpenWindow();
  Add("8080", "Proxy");
  EXPECT_EQ(Rows(), QStringList{"1|Proxy|8080|TCP|Remove"});
  EXPECT_EQ(StoredPorts(), QStringList{"Proxy|8080/6|1"});
  EXPECT_EQ(Text(Page(), IDC_PORT_NAME), "");
  EXPECT_EQ(Text(Page(), IDC_PORT_NUMBER), "");

  ClickCell(Page().m_list, 0, 0);
  EXPECT_EQ(Rows(), QStringList{"0|Proxy|8080|TCP|Remove"});
  EXPECT_EQ(StoredPorts(), QStringList{"Proxy|8080/6|0"});
  ClickCell(Page().m_list, 0, 0);
  EXPECT_EQ(Rows(), QStringList{"1|Proxy|8080|TCP|Remove"});
  EXPECT_EQ(StoredPorts(), QStringList{"Proxy|8080/6|1"});

  for (int column : {1, 2, 3}) ClickCell(Page().m_list, 0, column);
  EXPECT_EQ(Rows(), QStringList{"1|Proxy|8080|TCP|Remove"});

  ClickCell(Page().m_list, 0, 4);
  EXPECT_TRUE(Rows().isEmpty());
  EXPECT_TRUE(StoredPorts().isEmpty());
}

TEST_F(PortPageTest, TcpAndUdpOfOneNumberAreRemovedEachOnItsOwn) {
  OpenWindow();
  Click(Page(), IDC_UDP);
  Add("80", "Web over UDP");
  // The buttons stay as the user set them, and the next add uses them.
  EXPECT_TRUE(Checked(IDC_UDP));
  EXPECT_FALSE(Checked(IDC_TCP));
  EXPECT_EQ(Page().m_nProtocol, 2);
  Add("53", "Names");
  Click(Page(), IDC_TCP);
  Add("80", "Web");
  EXPECT_EQ(Page().m_nProtocol, 1);
  EXPECT_EQ(Rows(), (QStringList{"1|Web over UDP|80|UDP|Remove", "1|Names|53|UDP|Remove", "1|Web|80|TCP|Remove"}));
  EXPECT_EQ(StoredPorts(), (QStringList{"Web over UDP|80/17|1", "Names|53/17|1", "Web|80/6|1"}));

  ClickCell(Page().m_list, 2, 4);
  EXPECT_EQ(Rows(), (QStringList{"1|Web over UDP|80 |UDP|Remove", "1|Names|53 |UDP|Remove"}));
  EXPECT_EQ(StoredPorts(), (QStringList{"Web over UDP|80/17|1", "Names|53/17|1"}));
  ClickCell(Page().m_list, 0, 4);
  EXPECT_EQ(Rows(), QStringList{"1|Names|53 |UDP|Remove"});
  EXPECT_EQ(StoredPorts(), QStringList{"Names|53/17|1"});
}

TEST_F(PortPageTest, AnyProtocolButTcpIsShownAndAddressedAsUdp) {
  StorePort(80, 99, u"Odd", true);
  StorePort(80, NET_FW_IP_PROTOCOL_UDP, u"Web over UDP", true);
  OpenWindow();
  EXPECT_EQ(Rows(), (QStringList{"1|Odd|80 |UDP|Remove", "1|Web over UDP|80 |UDP|Remove"}));

  // The odd row's box reaches 80/UDP; only the clicked box changes until a rebuild.
  ClickCell(Page().m_list, 0, 0);
  EXPECT_EQ(Rows(), (QStringList{"0|Odd|80 |UDP|Remove", "1|Web over UDP|80 |UDP|Remove"}));
  EXPECT_EQ(StoredPorts(), (QStringList{"Odd|80/99|1", "Web over UDP|80/17|0"}));
  ClickCell(Page().m_list, 0, 0);
  EXPECT_EQ(StoredPorts(), (QStringList{"Odd|80/99|1", "Web over UDP|80/17|1"}));

  ClickCell(Page().m_list, 0, 4);
  EXPECT_EQ(Rows(), QStringList{"1|Odd|80 |UDP|Remove"});
  EXPECT_EQ(StoredPorts(), QStringList{"Odd|80/99|1"});
}

TEST_F(PortPageTest, OnlyAPressAndAReleaseOnOneCellAct) {
  // More ports than the list shows, so that some rows lie hidden below it.
  for (LONG number = 1; number <= 20; ++number) StorePort(number, NET_FW_IP_PROTOCOL_TCP, u"Port", true);
  OpenWindow();
  CXListCtrl& list = Page().m_list;

  // Pressed on the first row's name and released on the second row's "Remove": nothing.
  PressMoveRelease(list, CellCentre(list, 0, 1), CellCentre(list, 1, 4));
  EXPECT_EQ(StoredPorts().size(), 20);

  // Pressed on a box and dragged below the list, over a hidden row's box: nothing.
  const QPoint belowTheList(CellCentre(list, 0, 0).x(), list.viewport()->height() + 20);
  PressMoveRelease(list, CellCentre(list, 0, 0), belowTheList);
  EXPECT_FALSE(StoredPorts().join(u' ').contains(u"|0"));

  // The row the list shows only in part is the one its click acts on.
  list.scrollToTop();
  int partial = 0;
  while (list.visualRect(list.model()->index(partial, 0)).bottom() < list.viewport()->height()) ++partial;
  ASSERT_LT(list.visualRect(list.model()->index(partial, 0)).top(), list.viewport()->height() - 2);
  const QPoint partialBox(CellCentre(list, 0, 0).x(), list.viewport()->height() - 2);
  PressMoveRelease(list, partialBox, partialBox);
  EXPECT_EQ(list.GetCellCheck(partial, 0), 0);
  EXPECT_TRUE(StoredPorts().contains(QStringLiteral("Port|%1/6|0").arg(partial + 1)));

  // A press and a release anywhere inside one cell are a click on it.
  list.scrollToTop();
  const QRect remove = list.visualRect(list.model()->index(1, 4)) & list.viewport()->rect();
  PressMoveRelease(list, remove.topLeft() + QPoint(2, 2), remove.bottomRight() - QPoint(2, 2));
  EXPECT_FALSE(StoredPorts().contains("Port|2/6|1"));
  EXPECT_EQ(StoredPorts().size(), 19);
}

TEST_F(PortPageTest, ANumberFollowedByLettersIsThatNumber) {
  OpenWindow();
  Add("80abc", "Web");
  Add(" +81", "Other");
  EXPECT_EQ(Rows(), (QStringList{"1|Web|80abc|TCP|Remove", "1|Other| +81|TCP|Remove"}));
  EXPECT_EQ(StoredPorts(), (QStringList{"Web|80/6|1", "Other|81/6|1"}));

  ClickCell(Page().m_list, 0, 0);
  EXPECT_EQ(StoredPorts(), (QStringList{"Web|80/6|0", "Other|81/6|1"}));
  ClickCell(Page().m_list, 1, 4);
  EXPECT_EQ(Rows(), QStringList{"0|Web|80 |TCP|Remove"});
}

TEST_F(PortPageTest, ARefusedAddLeavesNoRow) {
  StorePort(22, NET_FW_IP_PROTOCOL_TCP, u"Shell", true);
  OpenWindow();
  // Beyond what int holds the number does not wrap round to a small port.
  for (const char* number : {"70000", "4294967376"}) {
    Add(number, "Too high");
    EXPECT_EQ(Rows(), QStringList{"1|Shell|22 |TCP|Remove"}) << number;
  }
  EXPECT_EQ(StoredPorts(), QStringList{"Shell|22/6|1"});
  EXPECT_TRUE(Messages().isEmpty());
  EXPECT_EQ(Text(Page(), IDC_PORT_NUMBER), "");
}

TEST_F(PortPageTest, ARefusedToggleLeavesTheBox) {
  StorePort(22, NET_FW_IP_PROTOCOL_TCP, u"Shell", true);
  OpenWindow();
  {
    StoreLock lock(DatabasePath());
    ClickCell(Page().m_list, 0, 0);
    EXPECT_EQ(Rows(), QStringList{"1|Shell|22 |TCP|Remove"});
    Add("25", "Mail");
    EXPECT_EQ(Rows(), QStringList{"1|Shell|22 |TCP|Remove"});
  }
  EXPECT_EQ(StoredPorts(), QStringList{"Shell|22/6|1"});
  ClickCell(Page().m_list, 0, 0);
  EXPECT_EQ(Rows(), QStringList{"0|Shell|22 |TCP|Remove"});
  EXPECT_EQ(StoredPorts(), QStringList{"Shell|22/6|0"});
}

}  // namespace
