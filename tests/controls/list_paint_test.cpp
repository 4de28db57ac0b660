#include <gtest/gtest.h>
#include <QApplication>
#include <QTest>

#include "resources/resource.h"
#include "tests/controls/list_page.h"
#include "tests/controls/pixels.h"
#include "tests/controls/test_system.h"

namespace {

using namespace test_system;

constexpr COLORREF kBlue = RGB(0, 0, 255);
constexpr COLORREF kGreen = RGB(200, 255, 200);
constexpr COLORREF kBlack = RGB(0, 0, 0);
constexpr int kTops[7] = {0, 1, 2, 3, 4, 3, 2};

class ListPaint : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(page.Activate()); }
  QRect Cell(int item, int subItem) const { return page.Cell(item, subItem); }
  QImage Rows() { return Render(page.m_list.viewport()); }

  // The left edge of a box's sunken frame in a cell of column 0.
  static int BoxLeft(const QRect& cell, bool centred) {
    const int side = cell.height() - 1;
    return (centred ? cell.left() + cell.width() / 2 - side / 2 - 1 : cell.left() + 9) + 1;
  }
  // The pixels of the check mark of a box whose frame starts at (left, top).
  static std::vector<QPoint> CheckMark(int left, int top) {
    std::vector<QPoint> points;
    for (int stroke = 0; stroke < 7; ++stroke) {
      for (int k = 0; k < 3; ++k) points.emplace_back(left + 9 - stroke, top + 3 + kTops[stroke] + k);
    }
    return points;
  }

  ListPage page;
};

TEST_F(ListPaint, CheckBoxesAreCentredInTheirCellAndDrawnToThePixel) {
  page.AddRow(true, "Mail", "/usr/bin/mail");
  page.AddRow(false, "Chat", "/usr/bin/chat");
  page.AddRow(true, "Backup", "/usr/bin/backup");
  page.m_list.SetCellCheck(2, 0, 2);
  for (int row : {0, 1, 2}) page.m_list.SetItemText(row, 0, nullptr, COLORREF(-1), kGreen);
  const QImage image = Rows();

  for (int row : {0, 1, 2}) {
    const QRect cell = Cell(row, 0);
    const int side = cell.height() - 1;
    const int left = BoxLeft(cell, true);
    const int top = cell.top();
    const int right = left + side - 1;  // exclusive
    const int bottom = top + side;      // exclusive
    // Centred within column 0, which ends where column 1 begins.
    EXPECT_EQ(cell.right() + 1, Cell(row, 1).left());
    EXPECT_NEAR((left + right) / 2.0, cell.left() + cell.width() / 2.0, 1.5) << row;

    EXPECT_EQ(image.pixel(left - 2, top + 5), Rgb(kGreen)) << row;
    EXPECT_EQ(image.pixel(left - 1, top + 5), Rgb(kWindow)) << "the face is filled one pixel left of the frame";
    EXPECT_EQ(BoundsOf(image, Rgb(kShadow), cell), QRect(left, top, right - left - 1, bottom - top - 1)) << row;
    EXPECT_EQ(BoundsOf(image, Rgb(kDarkShadow), cell), QRect(left + 1, top + 1, right - left - 3, bottom - top - 3));
    EXPECT_EQ(image.pixel(right - 1, bottom - 1), Rgb(kHilite)) << row;
    EXPECT_EQ(image.pixel(right - 2, bottom - 2), Rgb(kLight)) << row;
    EXPECT_EQ(image.pixel(left + 2, top + 2), Rgb(kWindow)) << row;
    EXPECT_EQ(image.pixel(cell.right(), top + 5), Rgb(kGreen)) << row;

    if (row == 0) {
      EXPECT_EQ(CountOtherThan(image, Rgb(kBlack), cell), cell.width() * cell.height() - 21);
      for (const QPoint& p : CheckMark(left, top)) EXPECT_EQ(image.pixel(p), Rgb(kBlack)) << p.x() << "," << p.y();
    } else {
      // Unchecked, and a state other than -1, 0 and 1, show an empty box.
      EXPECT_EQ(CountOtherThan(image, Rgb(kBlack), cell), cell.width() * cell.height()) << row;
    }
  }
}

TEST_F(ListPaint, WithTextTheBoxStandsNineAndTenPixelsInAndTheTextFourRightOfIt) {
  page.AddRow(true, "Mail", "/usr/bin/mail");
  page.m_list.SetItemText(0, 0, "On", COLORREF(-1), kGreen);
  const QImage image = Rows();
  const QRect cell = Cell(0, 0);
  const int mid = cell.top() + cell.height() / 2;
  EXPECT_EQ(image.pixel(cell.left() + 8, mid), Rgb(kGreen));
  EXPECT_EQ(image.pixel(cell.left() + 9, mid), Rgb(kWindow));
  EXPECT_EQ(image.pixel(cell.left() + 10, mid), Rgb(kShadow));
  for (const QPoint& p : CheckMark(cell.left() + 10, cell.top())) EXPECT_EQ(image.pixel(p), Rgb(kBlack));

  const int boxRight = cell.left() + 9 + cell.height() - 1;
  const QRect text =
      BoundsOf(image, Rgb(kWindowText), QRect(boxRight, cell.top(), cell.right() - boxRight, cell.height()));
  ASSERT_FALSE(text.isEmpty());
  EXPECT_GE(text.left(), boxRight + 4);
  EXPECT_LE(text.left(), boxRight + 6);
}

TEST_F(ListPaint, TextCellsShowTheirColoursAndASelectedRowTheHighlightWhileFocused) {
  page.AddRow(true, "Mail", "/usr/bin/mail");
  page.AddRow(false, "Chat", "/usr/bin/chat");
  page.m_list.SetItemText(1, 2, nullptr, COLORREF(-1), COLORREF(-1));
  QImage image = Rows();
  const QRect remove = Cell(0, 2);
  EXPECT_EQ(image.pixel(remove.right(), remove.center().y()), Rgb(RGB(255, 255, 255)));
  EXPECT_FALSE(BoundsOf(image, Rgb(kBlue), remove).isEmpty());
  EXPECT_LE(BoundsOf(image, Rgb(kBlue), remove).left(), remove.left() + 1) << "no inner margin";
  // -1 for both colours: the palette's window text on the window colour; the text stays.
  EXPECT_EQ(page.m_list.GetItemText(1, 2), QStringLiteral("Remove"));
  EXPECT_TRUE(BoundsOf(image, Rgb(kBlue), Cell(1, 2)).isEmpty());
  EXPECT_FALSE(BoundsOf(image, Rgb(kWindowText), Cell(1, 2)).isEmpty());

  page.ClickCell(0, 1);
  ASSERT_TRUE(page.m_list.hasFocus());
  image = Rows();
  for (int column = 0; column < 4; ++column) {
    const QRect cell = Cell(0, column);
    EXPECT_EQ(image.pixel(cell.right(), cell.top()), Rgb(kHighlight)) << column;
    EXPECT_TRUE(BoundsOf(image, Rgb(kBlue), cell).isEmpty()) << column;
    if (column == 0) continue;  // the box and its black mark
    EXPECT_TRUE(BoundsOf(image, Rgb(kWindowText), cell).isEmpty()) << column;
    EXPECT_FALSE(BoundsOf(image, Rgb(kHighlightText), cell).isEmpty()) << column;
  }
  const int boxLeft = BoxLeft(Cell(0, 0), true);
  EXPECT_EQ(image.pixel(boxLeft - 1, Cell(0, 0).top() + 5), Rgb(kWindow)) << "the box face keeps the window colour";
  EXPECT_EQ(image.pixel(boxLeft + 2, Cell(0, 0).top() + 2), Rgb(kWindow));
  EXPECT_EQ(image.pixel(Cell(1, 1).right(), Cell(1, 1).top()), Rgb(kWindow)) << "other rows unchanged";

  // Without the focus a selected row looks unselected, unless the list always shows it.
  page.GetDlgItem(IDC_PROGRAM_NAME)->setFocus();
  ASSERT_FALSE(page.m_list.hasFocus());
  image = Rows();
  EXPECT_EQ(image.pixel(remove.right(), remove.top()), Rgb(RGB(255, 255, 255)));
  EXPECT_FALSE(BoundsOf(image, Rgb(kBlue), remove).isEmpty());
  ModifyStyle(&page.m_list, 0, LVS_SHOWSELALWAYS);
  image = Rows();
  EXPECT_EQ(image.pixel(remove.right(), remove.top()), Rgb(kFace));
  EXPECT_FALSE(BoundsOf(image, Rgb(kWindowText), remove).isEmpty());
}

TEST_F(ListPaint, AnEmptyListSaysSoBelowItsHeaderUntilItHasARow) {
  CXListCtrl& list = page.m_list;
  QApplication::processEvents();
  const int headerHeight = list.GetHeaderCtrl()->height();
  const QRect below(2, headerHeight + 2, list.width() - 4, list.height() - headerHeight - 4);
  const QImage image = OnScreen(&list);
  const QRect text = BoundsOf(image, Rgb(kWindowText), below);
  ASSERT_FALSE(text.isEmpty());
  // Its top 10 pixels below the header's height, measured from the list's outer top edge.
  EXPECT_GE(text.top(), headerHeight + 10);
  EXPECT_LE(text.top(), headerHeight + 10 + 4);
  EXPECT_LT(text.height(), 20) << "one line";
  EXPECT_NEAR(text.left() + text.width() / 2.0, list.width() / 2.0, 2);

  page.AddRow(true, "Mail", "/usr/bin/mail");
  QApplication::processEvents();
  const int belowRow = list.viewport()->y() + Cell(0, 0).bottom() + 1;
  EXPECT_TRUE(
      BoundsOf(OnScreen(&list), Rgb(kWindowText), QRect(2, belowRow, list.width() - 4, text.bottom())).isEmpty());
}

TEST_F(ListPaint, AChangedCellIsOnTheScreenAtOnce) {
  page.AddRow(false, "Mail", "/usr/bin/mail");
  QApplication::processEvents();
  const QRect cell = Cell(0, 0);
  const QPoint origin = page.m_list.viewport()->mapTo(&page.m_list, QPoint(0, 0));
  const QPoint firstStroke = CheckMark(BoxLeft(cell, true), cell.top()).front() + origin;
  ASSERT_EQ(OnScreen(&page.m_list).pixel(firstStroke), Rgb(kWindow));

  page.m_list.SetCellCheck(0, 0, 1);
  EXPECT_EQ(OnScreen(&page.m_list).pixel(firstStroke), Rgb(kBlack));
  page.m_list.SetItemText(0, 1, "Mail client", kBlue, COLORREF(-1));
  EXPECT_FALSE(BoundsOf(OnScreen(&page.m_list), Rgb(kBlue), Cell(0, 1).translated(origin)).isEmpty());
}

}  // namespace
