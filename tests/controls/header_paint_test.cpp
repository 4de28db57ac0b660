#include <gtest/gtest.h>
#include <QApplication>
#include <QFontMetrics>
#include <QPalette>

#include "tests/controls/list_page.h"
#include "tests/controls/pixels.h"
#include "tests/controls/test_system.h"

namespace {

using namespace test_system;

constexpr COLORREF kTitle = RGB(0, 0, 255);
// Pixels of the header check-box images: the box's outer top-left edge and the first
// stroke of the check mark, relative to the image's top-left corner.
constexpr QPoint kBoxCorner(3, 2);
constexpr QPoint kCheckMark(6, 8);
const QRgb kBoxEdge = qRgb(134, 134, 134);
const QRgb kMark = qRgb(4, 4, 4);

class HeaderPaint : public ::testing::Test {
 protected:
  CHeaderCtrl* Header() { return page.m_list.GetHeaderCtrl(); }
  QRect Item(int index) {
    CRect rect;
    Header()->GetItemRect(index, &rect);
    return rect.ToQRect();
  }
  void SetImage(int index, int image) {
    HDITEM item;
    item.mask = HDI_IMAGE;
    item.iImage = image;
    Header()->SetItem(index, &item);
  }
  void SetTitle(int index, const char* title) {
    HDITEM item;
    item.mask = HDI_TEXT;
    item.pszText = const_cast<char*>(title);
    Header()->SetItem(index, &item);
  }

  ListPage page;
};

TEST_F(HeaderPaint, TitlesAreBlueAndCentredInsideTheItemMargins) {
  const QImage image = Render(Header());
  for (int index : {1, 3}) {
    const QRect item = Item(index);
    const QRect title = BoundsOf(image, Rgb(kTitle), item);
    ASSERT_FALSE(title.isEmpty()) << index;
    const int middle = (item.left() + 6 + item.right() + 1 - 6) / 2;
    EXPECT_NEAR(title.left() + title.width() / 2.0, middle, 1.5) << index;
    EXPECT_NEAR(title.top() + title.height() / 2.0, item.height() / 2.0, 2.5) << index;
  }
  // Column 2 has no title.
  EXPECT_TRUE(BoundsOf(image, Rgb(kTitle), Item(2)).isEmpty());
}

TEST_F(HeaderPaint, DividersBetweenItemsAndAFrameAroundTheirWidths) {
  const QImage image = Render(Header());
  const int h = image.height();
  int total = 0;
  for (int index = 0; index < 4; ++index) total += Header()->sectionSize(index);
  ASSERT_LT(total, image.width()) << "the frame's right side must be visible";

  for (int index = 0; index < 3; ++index) {
    const int right = Item(index).right() + 1;
    EXPECT_EQ(image.pixel(right - 1, 1), Rgb(kFace)) << index;
    for (int y = 2; y < h - 2; ++y) {
      EXPECT_EQ(image.pixel(right - 1, y), Rgb(kShadow)) << index << "," << y;
      EXPECT_EQ(image.pixel(right, y), Rgb(kHilite)) << index << "," << y;
    }
    EXPECT_EQ(image.pixel(right, h - 2), Rgb(kFace)) << index;
  }
  // The frame: light on the top and left, dark on the bottom and right of the used width.
  EXPECT_EQ(image.pixel(0, 0), Rgb(kHilite));
  EXPECT_EQ(image.pixel(total - 2, 0), Rgb(kHilite));
  EXPECT_EQ(image.pixel(0, h - 2), Rgb(kHilite));
  EXPECT_EQ(image.pixel(0, h - 1), Rgb(kShadow));
  for (int y = 0; y < h; ++y) EXPECT_EQ(image.pixel(total - 1, y), Rgb(kShadow)) << y;
  EXPECT_EQ(image.pixel(total - 2, h - 1), Rgb(kShadow));
  // The last item has no divider, and right of the used width there is only face.
  EXPECT_EQ(image.pixel(total - 2, h / 2), Rgb(kFace));
  EXPECT_EQ(CountOtherThan(image, Rgb(kFace), QRect(total, 0, image.width() - total, h)), 0);
}

TEST_F(HeaderPaint, HeaderBoxStandsAtTheItemsLeftCentredVertically) {
  const QImage image = Render(Header());
  const QRect item = Item(0);
  const QPoint origin(item.left() + 6, (item.top() + item.bottom() + 1) / 2 - 8);
  EXPECT_EQ(image.pixel(origin + kBoxCorner), kBoxEdge);
  EXPECT_EQ(image.pixel(origin + QPoint(15, 15)), Rgb(kFace)) << "masked pixels show the face";
  EXPECT_EQ(image.pixel(origin + kCheckMark), qRgb(255, 255, 255));
  EXPECT_EQ(BoundsOf(image, kBoxEdge, item), QRect(origin + kBoxCorner, QSize(12, 12)));

  SetImage(0, 2);
  EXPECT_EQ(Render(Header()).pixel(origin + kCheckMark), kMark);
}

TEST_F(HeaderPaint, ImageZeroIsNeverDrawnAndLeavesTheTitleTheWholeItem) {
  const QRect item = Item(1);
  QImage image = Render(Header());
  EXPECT_TRUE(BoundsOf(image, kBoxEdge, item).isEmpty());
  const QRect alone = BoundsOf(image, Rgb(kTitle), item);

  SetImage(1, 1);
  image = Render(Header());
  EXPECT_FALSE(BoundsOf(image, kBoxEdge, item).isEmpty());
  const QRect beside = BoundsOf(image, Rgb(kTitle), item);
  // The title moves to the middle of the space right of the image and its margin.
  EXPECT_NEAR(beside.center().x() - alone.center().x(), (16 + 6) / 2.0, 1);
}

TEST_F(HeaderPaint, ATitleTooWideForItsItemEndsInAnEllipsis) {
  const QString text = QStringLiteral("A program name far too long for its column");
  SetTitle(1, text.toUtf8().constData());
  const QRect item = Item(1);
  const QImage image = Render(Header());
  const QRect title = BoundsOf(image, Rgb(kTitle), item);
  ASSERT_FALSE(title.isEmpty());
  EXPECT_GE(title.left(), item.left() + 6);
  EXPECT_LE(title.right(), item.right() - 6);
  // The last glyphs are the font's ellipsis, not a cut letter: the ink at the title's end,
  // as wide as the ellipsis's own, is no taller than it. Measured in the header's font,
  // whichever font that is here.
  const QFontMetrics metrics(Header()->font());
  const QString elided = metrics.elidedText(text, Qt::ElideRight, item.width() - 12);
  ASSERT_NE(elided, text);
  const QString ellipsis = elided.endsWith(QChar(0x2026)) ? QString(QChar(0x2026)) : QStringLiteral("...");
  ASSERT_TRUE(elided.endsWith(ellipsis)) << elided.toStdString();
  const QRect ink = metrics.tightBoundingRect(ellipsis);
  const QRect tail =
      BoundsOf(image, Rgb(kTitle), QRect(title.right() - ink.width() + 1, 0, ink.width(), item.height()));
  EXPECT_LE(tail.height(), ink.height());
  EXPECT_GE(tail.width(), ink.width() - 1);
  EXPECT_LT(ink.height() * 2, title.height()) << "an ellipsis lower than the letters";
}

TEST(HeaderPaintEmpty, AHeaderWithoutItemsShowsOnlyTheFace) {
  CXListCtrl list;
  list.resize(200, 100);
  list.PreSubclassWindow();
  list.show();
  const QImage image = Render(list.GetHeaderCtrl());
  ASSERT_GT(image.width(), 0);
  EXPECT_EQ(CountOtherThan(image, Rgb(kFace), image.rect()), 0);
}

TEST_F(HeaderPaint, PaintsOnlyTheAreaBeingRepainted) {
  const QRect area(Item(1).left() - 3, 0, 20, Header()->height());
  QImage image(Header()->size(), QImage::Format_RGB32);
  image.fill(Qt::green);
  Header()->viewport()->render(&image, area.topLeft(), QRegion(area));
  EXPECT_EQ(CountOtherThan(image, qRgb(0, 255, 0), image.rect()), CountOtherThan(image, qRgb(0, 255, 0), area));
  EXPECT_EQ(CountOtherThan(image, qRgb(0, 255, 0), area), area.width() * area.height());
  EXPECT_EQ(image.pixel(Item(0).right(), 5), Rgb(kShadow)) << "the divider inside the area";
}

TEST_F(HeaderPaint, ReadsThePaletteAgainWhenItChanges) {
  QPalette palette = QApplication::palette();
  palette.setColor(QPalette::Button, QColor(0, 128, 0));
  QApplication::setPalette(palette);
  QApplication::processEvents();
  const QImage image = Render(Header());
  Apply();
  EXPECT_EQ(image.pixel(Header()->width() - 1, 5), qRgb(0, 128, 0));
}

}  // namespace
