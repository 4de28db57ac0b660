#include <gtest/gtest.h>
#include <QApplication>
#include <QDir>
#include <QFontMetrics>
#include <QLabel>
#include <QMenu>
#include <QRadioButton>
#include <QTabBar>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include "app/about_dlg.h"
#include "app/banner_dlg.h"
#include "app/firewall_dlg.h"
#include "app/skin/skin.h"
#include "app/tab_dialog.h"
#include "firewall/com/com_object.h"
#include "firewall/com/com_ptr.h"
#include "firewall/com/com_runtime.h"
#include "firewall/open_firewall.h"
#include "framework/menu.h"
#include "framework/win_app.h"
#include "monitor/sniffer_dlg.h"
#include "pages/port_dlg.h"
#include "pages/program_dlg.h"
#include "resources/resource.h"
#include "tests/controls/pixels.h"
#include "tests/firewall/fake_firewall.h"
#include "tests/support/keyboard_focus.h"
#include "tests/support/recording_services.h"
#include "tests/support/silent_capture.h"

namespace {

// The main window, with the process's end recorded instead of carried out, and retries
// that do not wait.
class TestableMainWindow : public CfirewallDlg {
 public:
  int exitStatus = -1;

 protected:
  void ExitProcess(int status) override {
    exitStatus = status;
    EndDialog(status);
  }
  void WaitBeforeRetry(unsigned) override {}
};

// A temporary store and working directory, no live capture and no real modal dialogs.
class MainWindowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(m_dir.isValid());
    m_previousDir = QDir::currentPath();
    QDir::setCurrent(m_dir.path());
    ASSERT_TRUE(RegisterFirewall({DatabasePath(), "store"}).ok());
  }
  void TearDown() override {
    RevokeFirewallClasses();
    QDir::setCurrent(m_previousDir);
  }
  std::string DatabasePath() const { return (m_dir.path() + "/firewall.db").toStdString(); }

  // Runs a main window and acts on it once it shows; the action ends it.
  template <class Action>
  INT_PTR Run(TestableMainWindow& window, Action action) {
    QTimer::singleShot(0, [&] {
      action();
      if (window.isVisible()) window.EndDialog(IDCANCEL);
    });
    return window.DoModal();
  }

  // Acts on the next modal dialog that opens, then closes it.
  static void OnNextModal(std::function<void(QWidget*)> action) {
    QTimer::singleShot(0, [action] {
      QWidget* modal = QApplication::activeModalWidget();
      action(modal);
      if (modal) modal->close();
    });
  }

  QTemporaryDir m_dir;
  QString m_previousDir;
  ScopedRecordingServices m_services;
  ScopedSilentCapture m_capture;
};

bool IsChecked(CDialog& dialog, int id) { return dialog.IsDlgButtonChecked(id) == 1; }

TEST_F(MainWindowTest, ShowsTabsPagesAndTheStoredFirewallState) {
  TestableMainWindow window;
  Run(window, [&] {
    EXPECT_EQ(window.windowTitle(), QStringLiteral("Brenvo"));
    ASSERT_EQ(window.m_tab.count(), 3);
    EXPECT_EQ(window.m_tab.tabText(0), QStringLiteral("Add/Remove Programs"));
    EXPECT_EQ(window.m_tab.tabText(1), QStringLiteral("View Ports"));
    EXPECT_EQ(window.m_tab.tabText(2), QStringLiteral("View Traffic"));
    // A new store has the firewall off.
    EXPECT_TRUE(IsChecked(window, IDC_FIREWALL_OFF));
    EXPECT_FALSE(IsChecked(window, IDC_FIREWALL_ON));

    // The page container lies over the tab's pane, the banner container over its placeholder.
    EXPECT_EQ(window.m_pPageHost->pos(), QPoint(22, 39));
    EXPECT_EQ(window.m_pBannerHost->pos(), QPoint(9, 330));
    EXPECT_TRUE(window.m_pProgramPage->isVisible());
    EXPECT_FALSE(window.m_pPortPage->isVisible());
    EXPECT_FALSE(window.m_pTrafficPage->isVisible());
    EXPECT_TRUE(window.m_pBanner->isVisible());
    EXPECT_EQ(window.m_pBanner->size(), QSize(1000, 64));
  });
  EXPECT_EQ(window.exitStatus, -1);
}

TEST_F(MainWindowTest, EachTabShowsExactlyItsPage) {
  TestableMainWindow window;
  Run(window, [&] {
    QTabBar* bar = window.m_tab.tabBar();
    const std::vector<CDialog*> pages{window.m_pProgramPage, window.m_pPortPage, window.m_pTrafficPage};
    for (int tab : {2, 1, 0, 2}) {
      // Someone else resizing a page does not survive selecting it.
      pages[size_t(tab)]->resize(10, 10);
      QTest::mouseClick(bar, Qt::LeftButton, {}, bar->tabRect(tab).center());
      for (size_t i = 0; i < pages.size(); ++i) EXPECT_EQ(pages[i]->isVisible(), int(i) == tab) << tab;
      EXPECT_EQ(pages[size_t(tab)]->geometry(), QRect(0, 0, 505, 230));
    }
  });
}

TEST_F(MainWindowTest, OnAndOffSwitchTheStoredFirewall) {
  {
    TestableMainWindow window;
    Run(window, [&] { QTest::mouseClick(window.GetDlgItem(IDC_FIREWALL_ON), Qt::LeftButton); });
  }
  TestableMainWindow reopened;
  Run(reopened, [&] {
    EXPECT_TRUE(IsChecked(reopened, IDC_FIREWALL_ON));
    QTest::mouseClick(reopened.GetDlgItem(IDC_FIREWALL_OFF), Qt::LeftButton);
    BOOL on = 1;
    EXPECT_EQ(reopened.QueryFirewallOn(&on), FW_OK);
    EXPECT_EQ(on, 0);
  });
}

TEST_F(MainWindowTest, EnterAndTheWindowMenuOpenTheAboutBoxEscapeDoesNothing) {
  TestableMainWindow window;
  std::vector<QString> opened;
  const auto recordAbout = [&](QWidget* modal) {
    opened.push_back(dynamic_cast<CAboutDlg*>(modal) ? modal->windowTitle() : QStringLiteral("?"));
  };
  bool visibleAfterEscape = false;
  Run(window, [&] {
    OnNextModal(recordAbout);
    QTest::keyClick(window.GetDlgItem(IDOK), Qt::Key_Return);

    OnNextModal(recordAbout);
    window.GetSystemMenu()->GetMenu()->actions().back()->trigger();

    for (QWidget* target : {static_cast<QWidget*>(&window), window.GetDlgItem(IDCANCEL),
                            static_cast<QWidget*>(window.m_pProgramPage->GetDlgItem(IDC_PROGRAM_NAME)),
                            static_cast<QWidget*>(window.m_pBanner)}) {
      QTest::keyClick(target, Qt::Key_Escape);
    }
    visibleAfterEscape = window.isVisible() && window.m_pProgramPage->isVisible() && window.m_pBanner->isVisible();
  });
  EXPECT_EQ(opened, (std::vector<QString>{"About Brenvo", "About Brenvo"}));
  EXPECT_TRUE(visibleAfterEscape);
}

TEST_F(MainWindowTest, TheAboutBoxSaysWhatBecomesOfTheRulesAndEveryLineHoldsItsText) {
  TestableMainWindow window;
  QString rules;
  Run(window, [&] {
    OnNextModal([&](QWidget* modal) {
      auto* about = dynamic_cast<CAboutDlg*>(modal);
      ASSERT_NE(about, nullptr);
      // A text ends inside its control and before the OK button, which the controls overlap.
      const int okLeft = about->GetDlgItem(IDOK)->geometry().left();
      const auto ends = [&](const QLabel* label, const QString& text) {
        const int width = QFontMetrics(label->font()).horizontalAdvance(text);
        return width <= label->contentsRect().width() && label->geometry().left() + width < okLeft;
      };
      for (const QLabel* label : about->findChildren<QLabel*>())
        EXPECT_TRUE(ends(label, label->text())) << label->text().toStdString();
      // Whichever backend a run takes, its line fits.
      auto* line = qobject_cast<QLabel*>(about->GetDlgItem(IDC_ABOUT_RULES));
      ASSERT_NE(line, nullptr);
      rules = line->text();
      for (const FirewallBackend backend :
           {FirewallBackend::kStore, FirewallBackend::kNftables, FirewallBackend::kService}) {
        const QString text = QString::fromStdString(RulesText(backend));
        EXPECT_TRUE(ends(line, text)) << text.toStdString();
      }
    });
    QTest::mouseClick(window.GetDlgItem(IDOK), Qt::LeftButton);
  });
  EXPECT_EQ(rules, QStringLiteral("Rules: kept, not enforced"));
}

TEST_F(MainWindowTest, TabGoesRoundTheTabStopsAndArrowsRoundTheRadioGroup) {
  TestableMainWindow window;
  int first = 0;
  std::vector<int> tabs, backTabs, arrows;
  bool onAfterArrows = false;
  Run(window, [&] {
    ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
    first = FocusedControlId();
    // Neither the radio buttons nor the pages' controls are on the way.
    tabs = PressAndFollowFocus(Qt::Key_Tab, 4);
    backTabs = PressAndFollowFocus(Qt::Key_Backtab, 4, Qt::ShiftModifier);

    // The arrows go round the group that starts at "On" and check each button they reach,
    // which switches the firewall as a click does.
    QTest::mouseClick(window.GetDlgItem(IDC_FIREWALL_OFF), Qt::LeftButton);
    arrows = PressAndFollowFocus(Qt::Key_Right, 2);
    arrows.push_back(PressAndFollowFocus(Qt::Key_Up, 1).back());
    BOOL on = 0;
    window.QueryFirewallOn(&on);
    onAfterArrows = on == 1 && IsChecked(window, IDC_FIREWALL_ON);
  });
  EXPECT_EQ(first, IDOK);
  EXPECT_EQ(tabs, (std::vector<int>{IDCANCEL, IDC_TAB, IDC_FORUM, IDOK}));
  EXPECT_EQ(backTabs, (std::vector<int>{IDC_FORUM, IDC_TAB, IDCANCEL, IDOK}));
  EXPECT_EQ(arrows, (std::vector<int>{IDC_FIREWALL_ON, IDC_FIREWALL_OFF, IDC_FIREWALL_ON}));
  EXPECT_TRUE(onAfterArrows);
}

TEST_F(MainWindowTest, WindowMenuEndsWithASeparatorAndTheAboutItem) {
  TestableMainWindow window;
  Run(window, [&] {
    const QList<QAction*> actions = window.GetSystemMenu()->GetMenu()->actions();
    ASSERT_GE(actions.size(), 2);
    EXPECT_TRUE(actions[actions.size() - 2]->isSeparator());
    EXPECT_EQ(actions.back()->text(), QStringLiteral("&About Brenvo..."));
  });
}

TEST_F(MainWindowTest, ExitAndTheCloseBoxEndTheDialog) {
  TestableMainWindow byExit;
  EXPECT_EQ(Run(byExit, [&] { QTest::mouseClick(byExit.GetDlgItem(IDCANCEL), Qt::LeftButton); }), IDCANCEL);
  TestableMainWindow byClose;
  bool closed = false;
  Run(byClose, [&] {
    byClose.close();
    closed = !byClose.isVisible();
  });
  EXPECT_TRUE(closed);
}

TEST_F(MainWindowTest, BannerShowsAHandAndOpensTheHomePage) {
  TestableMainWindow window;
  Run(window, [&] {
    QWidget* picture = window.m_pBanner->GetDlgItem(IDC_BANNER_BITMAP);
    QEvent enter(QEvent::Enter);
    QApplication::sendEvent(window.m_pBanner, &enter);
    EXPECT_EQ(window.m_pBanner->cursor().shape(), Qt::PointingHandCursor);
    EXPECT_EQ(picture->cursor().shape(), Qt::PointingHandCursor);
    QTest::mouseClick(picture, Qt::LeftButton);
    QTest::mouseClick(window.GetDlgItem(IDC_FORUM), Qt::LeftButton);
  });
  EXPECT_EQ(m_services.urls, (QStringList{CBannerDlg::kHomePage, CfirewallDlg::kForumPage}));
  EXPECT_TRUE(QString(CfirewallDlg::kForumPage).endsWith(u"/newbb+index.cat+2.htm"));
}

TEST_F(MainWindowTest, ADoubleClickOnTheBannerOpensTheHomePageOnce) {
  TestableMainWindow window;
  Run(window, [&] {
    QWidget* picture = window.m_pBanner->GetDlgItem(IDC_BANNER_BITMAP);
    const QPoint centre = picture->rect().center();
    // The platform's double click: press, release, then the second press as a double click.
    QTest::mouseClick(picture, Qt::LeftButton, {}, centre);
    QTest::mouseDClick(picture, Qt::LeftButton, {}, centre);
    QTest::mouseRelease(picture, Qt::LeftButton, {}, centre);
  });
  EXPECT_EQ(m_services.urls, QStringList{CBannerDlg::kHomePage});
}

// A manager class that notes what the window had built when the manager was asked for,
// then hands over to the real one.
class ObservingManagerFactory final : public ComObject<IClassFactory> {
 public:
  explicit ObservingManagerFactory(TestableMainWindow* window) : m_window(window) {}
  HRESULT CreateInstance(IUnknown* outer, REFIID riid, void** object) override {
    pagesExisted = m_window->m_pProgramPage && m_window->m_pPortPage && m_window->m_pTrafficPage;
    CoRevokeClassObject(cookie);
    return CoCreateInstance(CLSID_NetFwMgr, outer, CLSCTX_INPROC_SERVER, riid, object);
  }
  DWORD cookie = 0;
  bool pagesExisted = false;

 private:
  TestableMainWindow* m_window;
};

TEST_F(MainWindowTest, PagesExistBeforeTheFirewallIsOpened) {
  TestableMainWindow window;
  ComPtr<ObservingManagerFactory> factory;
  factory.Attach(new ObservingManagerFactory(&window));
  ASSERT_EQ(CoRegisterClassObject(CLSID_NetFwMgr, factory.Get(), &factory->cookie), S_OK);
  Run(window, [] {});
  EXPECT_TRUE(factory->pagesExisted);
}

TEST_F(MainWindowTest, AnUnopenableStoreShowsTheMessageAndEndsWithStatusOne) {
  RevokeFirewallClasses();
  ASSERT_TRUE(RegisterFirewall({"/proc/brenvo/cannot/exist.db", "store"}).ok());
  TestableMainWindow window;
  window.DoModal();
  EXPECT_EQ(window.exitStatus, 1);
  ASSERT_EQ(m_services.boxes.size(), 1u);
  EXPECT_EQ(m_services.boxes[0].text, QStringLiteral("Brenvo works only under Windows XP"));
  EXPECT_EQ(m_services.boxes[0].caption, QStringLiteral("Error"));
  EXPECT_EQ(m_services.boxes[0].type & MB_ICONMASK, MB_ICONERROR);
}

TEST_F(MainWindowTest, AFirewallThatNeverAnswersEndsTheRunAsAFailure) {
  FakeFirewall firewall;
  firewall.Fail("INetFwMgr::get_LocalPolicy");
  CWinApp app;
  TestableMainWindow window;
  EXPECT_EQ(window.DoModal(), 0);
  EXPECT_FALSE(window.isVisible());
  EXPECT_EQ(app.ExitInstance(), 1);
  EXPECT_EQ(m_services.boxes.size(), 1u);
}

TEST_F(MainWindowTest, ARefusedSwitchLeavesTheButtonsShowingTheRealState) {
  FakeFirewall firewall;
  firewall.Fail("INetFwProfile::put_FirewallEnabled");
  TestableMainWindow window;
  Run(window, [&] {
    QTest::mouseClick(window.GetDlgItem(IDC_FIREWALL_ON), Qt::LeftButton);
    EXPECT_TRUE(IsChecked(window, IDC_FIREWALL_OFF));
    firewall.firewallEnabled = VARIANT_TRUE;
    QTest::mouseClick(window.GetDlgItem(IDC_FIREWALL_OFF), Qt::LeftButton);
    EXPECT_TRUE(IsChecked(window, IDC_FIREWALL_ON));
  });
  EXPECT_EQ(firewall.Calls("INetFwProfile::put_FirewallEnabled"), 2);
}

TEST(PageContainer, LaysOutTheFirstPageShownAndTheRestAsTheyWere) {
  QWidget main;
  CTabDialog empty(IDD_PAGE_HOST, &main);
  ASSERT_TRUE(empty.Create(IDD_PAGE_HOST, &main));
  empty.LayoutPages();
  empty.LayoutBanners();
  empty.HideAllPages();
  EXPECT_EQ(empty.m_nPages, 0);

  CTabDialog host(IDD_PAGE_HOST, &main);
  host.Create(IDD_PAGE_HOST, &main);
  std::vector<std::unique_ptr<CDialog>> pages;
  for (int id : {IDD_PROGRAM_PAGE, IDD_PORT_PAGE, IDD_SNIFFER_PAGE}) {
    pages.push_back(std::make_unique<CDialog>(id, &host));
    pages.back()->Create(id, &host);
    EXPECT_TRUE(host.AddPage(pages.back().get()));
  }
  EXPECT_EQ(host.m_nPages, 3);
  main.show();
  host.show();
  host.LayoutPages();
  for (size_t i = 0; i < pages.size(); ++i) {
    EXPECT_EQ(pages[i]->geometry(), QRect(0, 0, 505, 230)) << i;
    EXPECT_EQ(pages[i]->isVisible(), i == 0) << i;
  }
  host.HideAllPages();
  for (const auto& page : pages) EXPECT_FALSE(page->isVisible());
}

TEST(BannerContainer, HasAThinBorderAroundItsClientArea) {
  QWidget main;
  CTabDialog host(IDD_BANNER_HOST, &main);
  host.Create(IDD_BANNER_HOST, &main);
  EXPECT_EQ(host.GetClientRect(), CRect(0, 0, 533, 62));
  EXPECT_EQ(host.size(), QSize(535, 64));
  CBannerDlg banner(&host);
  banner.Create(IDD_BANNER, &host);
  host.AddPage(&banner);
  host.LayoutBanners();
  EXPECT_EQ(banner.geometry(), QRect(1, 1, 1000, 64));  // inside the border, cut by the container

  // The banner, in the program's skin, paints its face over the container's client area and
  // beyond, but not over the container's frame.
  struct SkinForThisTest {
    SkinForThisTest() {
      SkinInitialize(AfxGetInstanceHandle(), "SCRIBBLE", nullptr, nullptr);
      SkinLoadFromResource(AfxGetInstanceHandle(), "DEFAULT", "SKINMAGIC");
      SkinSelectWindowSkin("Dialog");
    }
    ~SkinForThisTest() { SkinShutdown(); }
  } skin;
  main.show();
  host.show();
  const QImage image = host.grab().toImage();
  ASSERT_EQ(image.size(), QSize(535, 64));
  const QRgb frame = host.palette().color(QPalette::Shadow).rgb();
  EXPECT_EQ(CountOtherThan(image, frame, QRect(0, 0, 535, 1)), 0) << "top";
  EXPECT_EQ(CountOtherThan(image, frame, QRect(0, 63, 535, 1)), 0) << "bottom";
  EXPECT_EQ(CountOtherThan(image, frame, QRect(0, 0, 1, 64)), 0) << "left";
  EXPECT_EQ(CountOtherThan(image, frame, QRect(534, 0, 1, 64)), 0) << "right";
  EXPECT_EQ(BoundsOf(image, frame, QRect(1, 1, 533, 62)), QRect()) << "inside";
}

}  // namespace
