#include <QCoreApplication>

#include "resources/resource.h"
#include "tests/pages/page_fixture.h"

namespace {

class ProgramPageTest : public PageTest {
 protected:
  CProgramDlg& Page() { return *m_window->m_pProgramPage; }
  QStringList Rows() { return PageTest::Rows(Page()); }

  void Choose(const QString& path) {
    m_services.fileReply = QStringList{path};
    Click(Page(), IDC_BROWSE);
  }
  void Add(const QString& path, const QString& name) {
    Choose(path);
    Type(Page(), IDC_PROGRAM_NAME, name);
    Click(Page(), IDC_ADD_PROGRAM);
  }
};

TEST_F(ProgramPageTest, ListsTheStoredProgramsUnderItsColumns) {
  StoreApp(u"/usr/bin/ssh", u"Secure shell", true);
  StoreApp(u"/opt/game/bin/game", u"Game", false);
  OpenWindow();

  EXPECT_EQ(Rows(), (QStringList{"1|Secure shell|Remove|/usr/bin/ssh", "0|Game|Remove|/opt/game/bin/game"}));
  CXListCtrl& list = Page().m_list;
  EXPECT_EQ(list.width(), 500);
  EXPECT_EQ(HeaderItems(list), (QStringList{"Enable:68:1", "Program:110:0", ":78:0", "Path:240:0"}));
  EXPECT_EQ(list.GetExtendedStyle() & LVS_EX_FULLROWSELECT, LVS_EX_FULLROWSELECT);
  EXPECT_EQ(list.m_headerImages.GetImageCount(), 3);
  const CellInfo& remove = reinterpret_cast<const CellArray*>(list.GetItemData(0))->at(2);
  EXPECT_EQ(remove.clrText, RGB(0, 0, 255));
  EXPECT_EQ(remove.clrBack, RGB(255, 255, 255));
}

TEST_F(ProgramPageTest, InputChecksComeBeforeAnythingIsAdded) {
  OpenWindow();
  Click(Page(), IDC_ADD_PROGRAM);
  Type(Page(), IDC_PROGRAM_NAME, "Editor");
  Click(Page(), IDC_ADD_PROGRAM);
  Choose("/usr/bin/vi");
  Type(Page(), IDC_PROGRAM_NAME, "");
  Click(Page(), IDC_ADD_PROGRAM);

  // The path is checked first: with neither, and with a name alone, only its message shows.
  EXPECT_EQ(Messages(), (QStringList{"You most choose a program", "You most choose a program",
                                     "You most entre the name for this program"}));
  for (const RecordingServices::Box& box : m_services.boxes) {
    EXPECT_EQ(box.caption, QCoreApplication::applicationName());
    EXPECT_EQ(box.type, MB_OK);
  }
  EXPECT_TRUE(Rows().isEmpty());
  EXPECT_TRUE(StoredApps().isEmpty());
  EXPECT_EQ(Text(Page(), IDC_PROGRAM_PATH), "/usr/bin/vi");
}

TEST_F(ProgramPageTest, BrowseTakesTheFirstFileAndACancelKeepsPathAndName) {
  OpenWindow();
  m_services.fileReply = QStringList{"/usr/bin/first", "/usr/bin/second"};
  Type(Page(), IDC_PROGRAM_NAME, "Typed first");
  Click(Page(), IDC_BROWSE);
  EXPECT_EQ(Text(Page(), IDC_PROGRAM_PATH), "/usr/bin/first");
  EXPECT_EQ(Text(Page(), IDC_PROGRAM_NAME), "Typed first");
  EXPECT_EQ(m_services.fileFilters, QStringList{"All Files (*.*) (*)"});
  EXPECT_TRUE(m_services.multipleAllowed);

  m_services.fileReply.reset();
  Type(Page(), IDC_PROGRAM_NAME, "Typed again");
  Click(Page(), IDC_BROWSE);
  EXPECT_EQ(Text(Page(), IDC_PROGRAM_PATH), "/usr/bin/first");
  EXPECT_EQ(Text(Page(), IDC_PROGRAM_NAME), "Typed again");
}

TEST_F(ProgramPageTest, AddToggleTwiceAndRemove) {
  OpenWindow();
  Add("/usr/bin/ftp", "File transfer");
  EXPECT_EQ(Rows(), QStringList{"1|File transfer|Remove|/usr/bin/ftp"});
  EXPECT_EQ(StoredApps(), QStringList{"File transfer|/usr/bin/ftp|1"});
  EXPECT_EQ(Text(Page(), IDC_PROGRAM_PATH), "");
  EXPECT_EQ(Text(Page(), IDC_PROGRAM_NAME), "");

  ClickCell(Page().m_list, 0, 0);
  EXPECT_EQ(Rows(), QStringList{"0|File transfer|Remove|/usr/bin/ftp"});
  EXPECT_EQ(StoredApps(), QStringList{"File transfer|/usr/bin/ftp|0"});
  ClickCell(Page().m_list, 0, 0);
  EXPECT_EQ(Rows(), QStringList{"1|File transfer|Remove|/usr/bin/ftp"});
  EXPECT_EQ(StoredApps(), QStringList{"File transfer|/usr/bin/ftp|1"});

  // The name and path cells do nothing.
  ClickCell(Page().m_list, 0, 1);
  ClickCell(Page().m_list, 0, 3);
  EXPECT_EQ(Rows(), QStringList{"1|File transfer|Remove|/usr/bin/ftp"});
  EXPECT_EQ(StoredApps(), QStringList{"File transfer|/usr/bin/ftp|1"});

  ClickCell(Page().m_list, 0, 2);
  EXPECT_TRUE(Rows().isEmpty());
  EXPECT_TRUE(StoredApps().isEmpty());
  EXPECT_TRUE(Messages().isEmpty());
}

TEST_F(ProgramPageTest, APressOnOneRowAndAReleaseOnAnotherRemovesNothing) {
  StoreApp(u"/usr/bin/ssh", u"Secure shell", true);
  StoreApp(u"/usr/bin/irc", u"Chat", true);
  OpenWindow();
  CXListCtrl& list = Page().m_list;
  PressMoveRelease(list, CellCentre(list, 0, 1), CellCentre(list, 1, 2));
  PressMoveRelease(list, CellCentre(list, 1, 2), CellCentre(list, 0, 0));
  EXPECT_EQ(Rows(), (QStringList{"1|Secure shell|Remove|/usr/bin/ssh", "1|Chat|Remove|/usr/bin/irc"}));
  EXPECT_EQ(StoredApps(), (QStringList{"Secure shell|/usr/bin/ssh|1", "Chat|/usr/bin/irc|1"}));
}

TEST_F(ProgramPageTest, ADuplicateAddShowsTwiceUntilARemoveRebuilds) {
  OpenWindow();
  Add("/usr/bin/mail", "Mail");
  Add("/usr/bin/mail", "Mail again");
  Add("/usr/bin/news", "News");
  EXPECT_EQ(Rows(), (QStringList{"1|Mail|Remove|/usr/bin/mail", "1|Mail again|Remove|/usr/bin/mail",
                                 "1|News|Remove|/usr/bin/news"}));
  EXPECT_EQ(StoredApps(), (QStringList{"Mail|/usr/bin/mail|1", "News|/usr/bin/news|1"}));

  ClickCell(Page().m_list, 2, 2);
  EXPECT_EQ(Rows(), QStringList{"1|Mail|Remove|/usr/bin/mail"});
  EXPECT_EQ(StoredApps(), QStringList{"Mail|/usr/bin/mail|1"});
}

TEST_F(ProgramPageTest, RemovingADisabledProgramListsItAgainUnchecked) {
  StoreApp(u"/usr/bin/irc", u"Chat", false);
  OpenWindow();
  ClickCell(Page().m_list, 0, 2);
  EXPECT_EQ(Rows(), QStringList{"0|Chat|Remove|/usr/bin/irc"});
  EXPECT_EQ(StoredApps(), QStringList{"Chat|/usr/bin/irc|0"});
}

TEST_F(ProgramPageTest, ARefusedChangeLeavesTheListAsTheFirewallHasIt) {
  StoreApp(u"/usr/bin/ssh", u"Secure shell", true);
  OpenWindow();
  {
    StoreLock lock(DatabasePath());
    ClickCell(Page().m_list, 0, 0);
    EXPECT_EQ(Rows(), QStringList{"1|Secure shell|Remove|/usr/bin/ssh"});

    // The refused program's row shows for a moment and is gone with the rebuild.
    Add("/usr/bin/telnet", "Telnet");
    EXPECT_EQ(Rows(), QStringList{"1|Secure shell|Remove|/usr/bin/ssh"});
  }
  EXPECT_EQ(StoredApps(), QStringList{"Secure shell|/usr/bin/ssh|1"});

  ClickCell(Page().m_list, 0, 0);
  EXPECT_EQ(Rows(), QStringList{"0|Secure shell|Remove|/usr/bin/ssh"});
  EXPECT_EQ(StoredApps(), QStringList{"Secure shell|/usr/bin/ssh|0"});
}

}  // namespace
