#include <gtest/gtest.h>
#include <QApplication>
#include <QPointer>
#include <QScrollBar>
#include <QTest>
#include <atomic>
#include <cstdlib>
#include <new>

#include "tests/controls/list_page.h"
#include "tests/controls/pixels.h"
#include "tests/controls/test_system.h"

// Every allocation of the program is counted, to see that the list frees what it allocates.
namespace {
std::atomic<long> g_liveAllocations{0};
}  // namespace

void* operator new(std::size_t size) {
  if (void* block = std::malloc(size ? size : 1)) {
    ++g_liveAllocations;
    return block;
  }
  throw std::bad_alloc();
}
void operator delete(void* block) noexcept {
  if (!block) return;
  --g_liveAllocations;
  std::free(block);
}
void operator delete(void* block, std::size_t) noexcept { operator delete(block); }

namespace {

using namespace test_system;

class ListBehaviour : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(page.Activate()); }
  void ClickHeader(int column) {
    CRect rect;
    list.GetHeaderCtrl()->GetItemRect(column, &rect);
    QTest::mouseClick(list.GetHeaderCtrl()->viewport(), Qt::LeftButton, {}, rect.ToQRect().center());
  }
  std::vector<int> Boxes(int column) {
    std::vector<int> boxes;
    for (int item = 0; item < list.GetItemCount(); ++item) boxes.push_back(list.GetCellCheck(item, column));
    return boxes;
  }

  ListPage page;
  CXListCtrl& list = page.m_list;
};

TEST_F(ListBehaviour, IndexesOutOfRangeGiveTheirResultsAndChangeNothing) {
  page.AddRow(true, "Mail", "/usr/bin/mail");
  page.AddRow(false, "Chat", "/usr/bin/chat");
  EXPECT_EQ(list.InsertItem(-1, "x"), -1);
  EXPECT_EQ(list.GetItemCount(), 2);

  for (auto [item, subItem] : {std::pair{-1, 0}, {2, 0}, {0, -1}, {0, 4}}) {
    SCOPED_TRACE(testing::Message() << item << "," << subItem);
    EXPECT_FALSE(list.SetItemText(item, subItem, "x"));
    EXPECT_FALSE(list.SetItemText(item, subItem, "x", RGB(1, 2, 3), RGB(4, 5, 6)));
    EXPECT_FALSE(list.SetCellCheck(item, subItem, 1));
    EXPECT_EQ(list.GetCellCheck(item, subItem), -1);
    CRect rect(1, 2, 3, 4);
    EXPECT_FALSE(list.GetCellRect(item, subItem, LVIR_BOUNDS, rect));
    EXPECT_EQ(rect, CRect(1, 2, 3, 4));
    list.RedrawCell(item, subItem);
  }
  for (int column : {-1, 4}) {
    EXPECT_EQ(list.GetHeaderCheck(column), -1);
    EXPECT_FALSE(list.SetHeaderCheck(column, 2));
    EXPECT_EQ(list.CountCheckedCells(column), 0);
  }
  EXPECT_EQ(Boxes(0), (std::vector<int>{1, 0}));
  EXPECT_EQ(list.GetItemText(1, 1), QStringLiteral("Chat"));
  EXPECT_EQ(list.GetHeaderCheck(0), 1);
  // An index past the end appends.
  EXPECT_EQ(list.InsertItem(7, "x"), 2);
}

TEST_F(ListBehaviour, RowsAndColumnsWithoutCellRecordsAreTextOnlyAndRefuseBoxes) {
  page.AddRow(true, "Mail", "/usr/bin/mail");
  // A row the list view made without the list's records, and a column added afterwards.
  static_cast<CListCtrl&>(list).InsertItem(1, "");
  list.InsertColumn(4, QStringLiteral("Late"), LVCFMT_LEFT, 40);
  ASSERT_EQ(list.GetColumnCount(), 5);

  EXPECT_FALSE(list.SetCellCheck(1, 0, 1));
  EXPECT_EQ(list.GetCellCheck(1, 0), -1);
  EXPECT_FALSE(list.SetCellCheck(0, 4, 1));
  EXPECT_EQ(list.GetCellCheck(0, 4), -1);
  EXPECT_TRUE(list.SetItemText(1, 1, "Plain", RGB(0, 0, 255), RGB(0, 255, 0)));
  EXPECT_EQ(list.GetItemText(1, 1), QStringLiteral("Plain"));
  EXPECT_TRUE(list.SetItemText(0, 4, "Late", RGB(0, 0, 255), RGB(0, 255, 0)));

  // Drawn in the palette's colours, whatever colours were asked for.
  CRect cell;
  list.GetCellRect(1, 1, LVIR_BOUNDS, cell);
  const QImage image = Render(list.viewport());
  EXPECT_FALSE(BoundsOf(image, Rgb(kWindowText), cell.ToQRect()).isEmpty());
  EXPECT_EQ(image.pixel(cell.right - 1, cell.top), Rgb(kWindow));
  EXPECT_TRUE(BoundsOf(image, qRgb(0, 0, 255), cell.ToQRect()).isEmpty());
  // The header box counts rows without a box as unchecked.
  EXPECT_EQ(list.CountCheckedCells(0), 1);
  list.SetCellCheck(0, 0, 1);
  EXPECT_EQ(list.GetHeaderCheck(0), 1);
}

TEST_F(ListBehaviour, TheHeaderBoxIsCheckedOnlyWhileEveryBoxBelowIs) {
  for (const char* name : {"a", "b", "c"}) page.AddRow(false, name, "/x");
  EXPECT_EQ(list.GetHeaderCheck(0), 1);
  list.SetCellCheck(0, 0, 1);
  list.SetCellCheck(1, 0, 1);
  EXPECT_EQ(list.GetHeaderCheck(0), 1);
  list.SetCellCheck(2, 0, 1);
  EXPECT_EQ(list.GetHeaderCheck(0), 2);
  list.SetCellCheck(1, 0, 0);
  EXPECT_EQ(list.GetHeaderCheck(0), 1);
  // A state other than 0 and 1 shows an empty box that does not count.
  list.SetCellCheck(1, 0, 2);
  EXPECT_EQ(list.CountCheckedCells(0), 2);
  EXPECT_EQ(list.GetHeaderCheck(0), 1);
  // A column without a header box gets none.
  list.SetCellCheck(0, 1, 1);
  EXPECT_EQ(list.GetHeaderCheck(1), 0);
}

TEST_F(ListBehaviour, AHeaderClickChecksOrClearsItsColumnAndThePageHearsOfIt) {
  page.AddRow(true, "Mail", "/usr/bin/mail");
  page.AddRow(false, "Chat", "/usr/bin/chat");
  list.InsertItem(2, "");  // no box in this row

  ClickHeader(0);
  EXPECT_EQ(Boxes(0), (std::vector<int>{1, 1, -1}));
  EXPECT_EQ(list.GetHeaderCheck(0), 2);
  ClickHeader(0);
  EXPECT_EQ(Boxes(0), (std::vector<int>{0, 0, -1}));
  EXPECT_EQ(list.GetHeaderCheck(0), 1);
  // A column without a header box: nothing changes, and the page still hears of the click.
  list.SetCellCheck(0, 1, 1);
  ClickHeader(1);
  EXPECT_EQ(Boxes(1), (std::vector<int>{1, -1, -1}));
  EXPECT_EQ(list.GetHeaderCheck(1), 0);
  EXPECT_EQ(page.m_columnClicks, (std::vector<int>{0, 0, 1}));
  EXPECT_TRUE(page.m_clicks.empty());
}

TEST_F(ListBehaviour, AClickReachesThePageWithItsPointAndNoClickOrKeyChangesABox) {
  page.AddRow(true, "Mail", "/usr/bin/mail");
  page.AddRow(false, "Chat", "/usr/bin/chat");

  const QPoint box = page.Cell(1, 0).center();
  page.ClickCell(1, 0);
  ASSERT_EQ(page.m_clicks.size(), 1u);
  const NMITEMACTIVATE& click = page.m_clicks.front();
  EXPECT_EQ(click.hdr.code, NM_CLICK);
  EXPECT_EQ(click.hdr.idFrom, 1008u);
  EXPECT_EQ(click.hdr.hwndFrom, &list);
  EXPECT_EQ(click.ptAction, box);
  int item = -1, subItem = -1;
  list.HitTestCell(click.ptAction, &item, &subItem);
  EXPECT_EQ(std::pair(item, subItem), std::pair(1, 0));
  list.HitTestCell(page.Cell(0, 2).center() + QPoint(0, 5), &item, &subItem);
  EXPECT_EQ(std::pair(item, subItem), std::pair(0, 2)) << "anywhere in the cell";

  // Below the rows the page still gets the click, and the hit test leaves its -1s.
  const QPoint below(box.x(), list.viewport()->height() - 3);
  QTest::mouseClick(list.viewport(), Qt::LeftButton, {}, below);
  ASSERT_EQ(page.m_clicks.size(), 2u);
  item = subItem = -1;
  list.HitTestCell(page.m_clicks.back().ptAction, &item, &subItem);
  EXPECT_EQ(std::pair(item, subItem), std::pair(-1, -1));

  // A double click is one click, not two. (Qt's test double click is only the second
  // press with its double-click event.)
  page.ClickCell(1, 0);
  QTest::mouseDClick(list.viewport(), Qt::LeftButton, {}, box);
  QTest::mouseRelease(list.viewport(), Qt::LeftButton, {}, box);
  EXPECT_EQ(page.m_clicks.size(), 3u);

  for (Qt::Key key : {Qt::Key_Space, Qt::Key_Down, Qt::Key_Up, Qt::Key_Return, Qt::Key_Home}) {
    QTest::keyClick(&list, key);
  }
  EXPECT_EQ(Boxes(0), (std::vector<int>{1, 0}));
  EXPECT_EQ(page.m_clicks.size(), 3u);
}

TEST_F(ListBehaviour, APressAndAReleaseOnDifferentCellsAreNoClick) {
  page.AddRow(true, "Mail", "/usr/bin/mail");
  page.AddRow(false, "Chat", "/usr/bin/chat");
  const auto pressMoveRelease = [&](QPoint from, QPoint to) {
    QTest::mousePress(list.viewport(), Qt::LeftButton, {}, from);
    QTest::mouseMove(list.viewport(), to);
    QTest::mouseRelease(list.viewport(), Qt::LeftButton, {}, to);
  };
  pressMoveRelease(page.Cell(0, 0).center(), page.Cell(0, 2).center());                  // one row, two cells
  pressMoveRelease(page.Cell(0, 2).center(), page.Cell(1, 2).center());                  // one column, two rows
  pressMoveRelease(page.Cell(1, 2).center(), QPoint(page.Cell(1, 2).center().x(), -5));  // onto the header
  EXPECT_TRUE(page.m_clicks.empty());

  pressMoveRelease(page.Cell(1, 2).topLeft(), page.Cell(1, 2).bottomRight());
  ASSERT_EQ(page.m_clicks.size(), 1u);
  EXPECT_EQ(std::pair(page.m_clicks[0].iItem, page.m_clicks[0].iSubItem), std::pair(1, 2));
}

TEST_F(ListBehaviour, CellRectanglesAreWhereTheViewPaintsThem) {
  for (int i = 0; i < 60; ++i) page.AddRow(i % 2, "Program", "/usr/bin/program");
  list.GetHeaderCtrl()->resizeSection(3, 600);  // wider than the list: it scrolls sideways
  QApplication::processEvents();

  for (auto [top, left] : {std::pair{0, 0}, {17, 0}, {list.verticalScrollBar()->maximum(), 130}}) {
    list.verticalScrollBar()->setValue(top);
    list.horizontalScrollBar()->setValue(left);
    QApplication::processEvents();
    for (int item = top; item < top + 5; ++item) {
      for (int subItem = 0; subItem < 4; ++subItem) {
        SCOPED_TRACE(testing::Message() << item << "," << subItem << " scrolled " << top << "," << left);
        const QRect painted = list.visualRect(list.model()->index(item, subItem));
        CRect rect;
        ASSERT_TRUE(list.GetCellRect(item, subItem, LVIR_BOUNDS, rect));
        EXPECT_EQ(rect.ToQRect(), painted);
        LVHITTESTINFO hit;
        hit.pt = painted.center();
        EXPECT_EQ(list.SubItemHitTest(&hit), item);
        EXPECT_EQ(hit.iSubItem, subItem);
      }
      // The list view's own rectangle of column 0 is the whole row.
      CRect row;
      list.GetSubItemRect(item, 0, LVIR_BOUNDS, row);
      EXPECT_EQ(row.left, -left);
      EXPECT_EQ(row.Width(), list.GetHeaderCtrl()->length());
    }
  }
}

TEST(ListMemory, EmptyingOrDestroyingTheListFreesEveryRowsCells) {
  const auto fill = [](CXListCtrl& list) {
    for (int item = 0; item < 200; ++item) {
      list.InsertItem(item, "");
      list.SetCellCheck(item, 0, 1);
    }
  };
  const auto make = [](CXListCtrl& list) {
    list.PreSubclassWindow();
    for (int column = 0; column < 4; ++column) list.InsertColumn(column, QStringLiteral("c"), LVCFMT_LEFT, 50);
  };
  {
    CXListCtrl warmUp;
    make(warmUp);
    fill(warmUp);
    warmUp.DeleteAllItems();
  }
  const long beforeList = g_liveAllocations;
  {
    CXListCtrl list;
    make(list);
    fill(list);
    list.DeleteAllItems();
    const long emptied = g_liveAllocations;
    fill(list);
    list.DeleteAllItems();
    EXPECT_EQ(g_liveAllocations, emptied);
    fill(list);
  }
  EXPECT_EQ(g_liveAllocations, beforeList);
}

TEST(ListLifetime, AListDiesWithTheWindowItLiesIn) {
  const auto liveAndDie = [] {
    auto* window = new QWidget;
    QPointer<CXListCtrl> list = new CXListCtrl;
    list->setParent(window);
    list->PreSubclassWindow();
    list->InsertColumn(0, QStringLiteral("Enable"), LVCFMT_LEFT, 50);
    list->InsertItem(0, "");
    const QPointer<QAbstractItemModel> model = list->model();
    window->show();
    delete window;
    EXPECT_TRUE(list.isNull());
    EXPECT_TRUE(model.isNull());

    auto* host = new QWidget;
    QPointer<ListPage> page = new ListPage;
    page->setParent(host);
    page->AddRow(true, "Mail", "/usr/bin/mail");
    const QPointer<CXListCtrl> pageList = &page->m_list;
    host->show();
    delete host;
    EXPECT_TRUE(page.isNull());
    EXPECT_TRUE(pageList.isNull());
    QApplication::processEvents();
  };
  // The first round fills Qt's own caches (fonts, styles); a second leaves nothing behind.
  liveAndDie();
  const long before = g_liveAllocations;
  liveAndDie();
  EXPECT_EQ(g_liveAllocations, before);
}

TEST_F(ListBehaviour, ReadsThePaletteAgainForNewRows) {
  page.AddRow(true, "Mail", "/usr/bin/mail");
  QPalette palette = QApplication::palette();
  palette.setColor(QPalette::Base, QColor(1, 2, 3));
  palette.setColor(QPalette::Text, QColor(4, 5, 6));
  QApplication::setPalette(palette);
  QApplication::processEvents();
  page.AddRow(true, "Chat", "/usr/bin/chat");
  Apply();

  const auto* old = reinterpret_cast<const CellArray*>(list.GetItemData(0));
  const auto* added = reinterpret_cast<const CellArray*>(list.GetItemData(1));
  EXPECT_EQ(old->front().clrBack, kWindow) << "cells keep their colours";
  EXPECT_EQ(added->front().clrBack, RGB(1, 2, 3));
  EXPECT_EQ(added->front().clrText, RGB(4, 5, 6));
  EXPECT_EQ(added->at(2).clrText, RGB(0, 0, 255));
}

}  // namespace
