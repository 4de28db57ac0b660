#include <gtest/gtest.h>
#include <QLineEdit>
#include <QMenu>
#include <QRadioButton>
#include <QTabBar>
#include <QTest>
#include <QTimer>

#include "framework/controls.h"
#include "framework/data_exchange.h"
#include "framework/dialog.h"
#include "framework/dialog_units.h"
#include "framework/menu.h"
#include "resources/dialog_template.h"
#include "resources/resource.h"

namespace {

// A dialog over any template that records the messages its table routes.
class ProbeDialog : public CEscapeProofDialog {
 public:
  explicit ProbeDialog(int templateId, QWidget* parent = nullptr) : CEscapeProofDialog(templateId, parent) {}

  std::vector<std::string> log;
  QString name;
  CComboBox combo;
  CTabCtrl tab;
  bool endDuringInit = false;

 protected:
  void DoDataExchange(CDataExchange* pDX) override {
    DDX_Text(pDX, IDC_PROGRAM_NAME, name);
    if (m_bindsCombo) DDX_Control(pDX, IDC_INTERFACE_COMBO, combo);
    if (m_bindsTab) DDX_Control(pDX, IDC_TAB, tab);
  }
  BOOL OnInitDialog() override {
    CEscapeProofDialog::OnInitDialog();
    if (endDuringInit) EndDialog(7);
    return 1;
  }
  const MessageMap* GetMessageMap() const override {
    static constexpr MessageMapEntry kEntries[] = {
        OnCommand<&ProbeDialog::OnBrowse>(BN_CLICKED, IDC_BROWSE),
        OnNotify<&ProbeDialog::OnTab>(TCN_SELCHANGE, IDC_TAB),
        OnSysCommandMessage<&ProbeDialog::OnSysCommand>(),
    };
    static const MessageMap map{CEscapeProofDialog::GetMessageMap(), kEntries};
    return &map;
  }

 public:
  bool m_bindsCombo = false;
  bool m_bindsTab = false;

 private:
  void OnBrowse() { log.push_back("browse"); }
  void OnTab(NMHDR* header, LRESULT* result) {
    log.push_back("tab " + std::to_string(tab.GetCurSel()) + " from " + std::to_string(header->idFrom));
    *result = 0;
  }
  void OnSysCommand(UINT id, LPARAM) {
    if (id == IDM_ABOUTBOX) {
      log.push_back("about");
    } else {
      Default();
    }
  }
};

// Runs a modal dialog and acts on it once it is showing.
template <class Action>
INT_PTR RunModal(CDialog& dialog, Action action) {
  QTimer::singleShot(0, [&] { action(); });
  return dialog.DoModal();
}

TEST(DialogUnits, RoundHalfAwayFromZeroOnFixedBaseUnits) {
  EXPECT_EQ(DialogUnitsToPixelsX(333), 500);
  EXPECT_EQ(DialogUnitsToPixelsX(1), 2);
  EXPECT_EQ(DialogUnitsToPixelsX(-1), -2);
  EXPECT_EQ(DialogUnitsToPixelsY(8), 13);
  EXPECT_EQ(DialogUnitsToPixelsY(103), 167);
  EXPECT_EQ(DialogUnitsToPixels(35, 106, 227, 14), QRect(53, 172, 341, 23));
}

TEST(ChildDialog, IsBuiltFromItsTemplate) {
  QWidget host;
  ProbeDialog page(IDD_PROGRAM_PAGE, &host);
  ASSERT_TRUE(page.Create(IDD_PROGRAM_PAGE, &host));
  EXPECT_EQ(page.size(), QSize(507, 229));
  EXPECT_FALSE(page.isVisibleTo(&host));  // the template has no visible style

  auto* path = qobject_cast<QLineEdit*>(page.GetDlgItem(IDC_PROGRAM_PATH));
  ASSERT_NE(path, nullptr);
  EXPECT_TRUE(path->isReadOnly());
  EXPECT_EQ(path->geometry(), QRect(53, 172, 341, 23));
  EXPECT_EQ(GetDlgCtrlID(path), IDC_PROGRAM_PATH);
  EXPECT_TRUE(GetWindowStyle(path) & ES_READONLY);
  EXPECT_EQ(page.GetDlgItem(IDC_STATIC), nullptr);
  EXPECT_EQ(page.GetDlgItem(IDOK), nullptr);
}

TEST(ChildDialog, ClicksReachTheHandlerOfItsTable) {
  QWidget host;
  ProbeDialog page(IDD_PROGRAM_PAGE, &host);
  page.Create(IDD_PROGRAM_PAGE, &host);
  host.show();
  page.show();
  QTest::mouseClick(page.GetDlgItem(IDC_BROWSE), Qt::LeftButton);
  QTest::mouseClick(page.GetDlgItem(IDC_ADD_PROGRAM), Qt::LeftButton);  // not in the table
  EXPECT_EQ(page.log, std::vector<std::string>{"browse"});
  EXPECT_TRUE(page.isVisible());
}

TEST(DataExchange, CopiesTextsBothWays) {
  QWidget host;
  ProbeDialog page(IDD_PROGRAM_PAGE, &host);
  page.name = QStringLiteral("Mail");
  page.Create(IDD_PROGRAM_PAGE, &host);
  auto* edit = qobject_cast<QLineEdit*>(page.GetDlgItem(IDC_PROGRAM_NAME));
  EXPECT_EQ(edit->text(), QStringLiteral("Mail"));  // initialisation exchanged once
  edit->setText(QStringLiteral("Ünïcode name"));
  page.UpdateData(1);
  EXPECT_EQ(page.name, QStringLiteral("Ünïcode name"));
  page.name.clear();
  page.UpdateData(0);
  EXPECT_TRUE(edit->text().isEmpty());
}

TEST(DataExchange, BoundMemberTakesThePlaceOfItsTemplateControl) {
  QWidget host;
  ProbeDialog page(IDD_SNIFFER_PAGE, &host);
  page.m_bindsCombo = true;
  page.Create(IDD_SNIFFER_PAGE, &host);
  EXPECT_EQ(page.GetDlgItem(IDC_INTERFACE_COMBO), &page.combo);
  EXPECT_EQ(page.combo.parentWidget(), &page);
  EXPECT_EQ(page.combo.geometry(), DialogUnitsToPixels(7, 9, 174, 37));
  EXPECT_FALSE(page.combo.isVisibleTo(&page));

  // A sorted selector keeps text order: '.' sorts before the digits.
  page.combo.AddString(QStringLiteral("192.168.0.10"));
  page.combo.AddString(QStringLiteral("10.1.2.3"));
  page.combo.AddString(QStringLiteral("10.1.2"));
  EXPECT_EQ(page.combo.GetLBText(0), QStringLiteral("10.1.2"));
  EXPECT_EQ(page.combo.GetLBText(1), QStringLiteral("10.1.2.3"));
  EXPECT_EQ(page.combo.GetLBText(2), QStringLiteral("192.168.0.10"));
}

TEST(TabControl, ReportsOnlyTheUsersChanges) {
  ProbeDialog dialog(IDD_FIREWALL_DIALOG);
  dialog.m_bindsTab = true;
  RunModal(dialog, [&] {
    dialog.tab.InsertItem(0, "One");
    dialog.tab.InsertItem(1, "Two");
    dialog.tab.SetCurSel(1);
    dialog.tab.SetCurSel(0);
    EXPECT_TRUE(dialog.log.empty());
    QTabBar* bar = dialog.tab.tabBar();
    QTest::mouseClick(bar, Qt::LeftButton, {}, bar->tabRect(1).center());
    dialog.EndDialog(IDCANCEL);
  });
  EXPECT_EQ(dialog.log, std::vector<std::string>{"tab 1 from 1004"});
}

TEST(EscapeRule, PagesSwallowEscapeAndStayVisible) {
  QWidget host;
  ProbeDialog page(IDD_PROGRAM_PAGE, &host);
  page.Create(IDD_PROGRAM_PAGE, &host);
  host.show();
  page.show();
  QTest::keyClick(page.GetDlgItem(IDC_PROGRAM_NAME), Qt::Key_Escape);
  QTest::keyClick(&page, Qt::Key_Escape);
  EXPECT_TRUE(page.isVisible());
}

TEST(EscapeRule, ADialogWithAnEnabledCancelKeepsRunningUntilCancelIsDisabled) {
  ProbeDialog dialog(IDD_FIREWALL_DIALOG);
  bool stillRunning = false;
  const INT_PTR result = RunModal(dialog, [&] {
    QTest::keyClick(dialog.GetDlgItem(IDOK), Qt::Key_Escape);
    stillRunning = dialog.isVisible();
    dialog.GetDlgItem(IDCANCEL)->setEnabled(false);
    QTest::keyClick(dialog.GetDlgItem(IDOK), Qt::Key_Escape);
  });
  EXPECT_TRUE(stillRunning);
  EXPECT_EQ(result, IDCANCEL);
}

TEST(ModalDialog, EnterPressesTheDefaultButtonAndEscapeCancels) {
  CDialog about(IDD_ABOUTBOX);
  EXPECT_EQ(RunModal(about, [&] { QTest::keyClick(&about, Qt::Key_Return); }), IDOK);
  CDialog again(IDD_ABOUTBOX);
  EXPECT_EQ(RunModal(again, [&] { QTest::keyClick(&again, Qt::Key_Escape); }), IDCANCEL);
  CDialog closed(IDD_ABOUTBOX);
  EXPECT_EQ(RunModal(closed, [&] { closed.close(); }), IDCANCEL);
}

TEST(ModalDialog, EndedByItsInitialisationIsNeverShown) {
  ProbeDialog dialog(IDD_ABOUTBOX);
  dialog.endDuringInit = true;
  EXPECT_EQ(dialog.DoModal(), 7);
  EXPECT_FALSE(dialog.isVisible());
}

TEST(WindowMenu, OpensOnAltSpaceAndRoutesItsItemsAsSystemCommands) {
  ProbeDialog dialog(IDD_FIREWALL_DIALOG);
  QMenu* shown = nullptr;
  const INT_PTR result = RunModal(dialog, [&] {
    CMenu* menu = dialog.GetSystemMenu();
    ASSERT_NE(menu, nullptr);
    menu->AppendMenu(MF_SEPARATOR);
    menu->AppendMenu(MF_STRING, IDM_ABOUTBOX, QStringLiteral("&About Brenvo..."));
    QTest::keyClick(dialog.GetDlgItem(IDOK), Qt::Key_Space, Qt::AltModifier);
    shown = menu->GetMenu()->isVisible() ? menu->GetMenu() : nullptr;
    const QList<QAction*> actions = menu->GetMenu()->actions();
    actions.back()->trigger();   // About
    actions.front()->trigger();  // Close
  });
  EXPECT_NE(shown, nullptr);
  EXPECT_EQ(dialog.log, std::vector<std::string>{"about"});
  EXPECT_EQ(result, IDCANCEL);
}

TEST(RadioButtons, CheckRadioButtonChecksOneOfTheGroup) {
  QWidget host;
  ProbeDialog page(IDD_PORT_PAGE, &host);
  page.Create(IDD_PORT_PAGE, &host);
  page.CheckRadioButton(IDC_TCP, IDC_UDP, IDC_UDP);
  EXPECT_EQ(page.IsDlgButtonChecked(IDC_UDP), 1u);
  EXPECT_EQ(page.IsDlgButtonChecked(IDC_TCP), 0u);
  page.CheckRadioButton(IDC_TCP, IDC_UDP, IDC_TCP);
  EXPECT_EQ(page.IsDlgButtonChecked(IDC_UDP), 0u);
  EXPECT_EQ(page.IsDlgButtonChecked(IDC_TCP), 1u);
}

}  // namespace
