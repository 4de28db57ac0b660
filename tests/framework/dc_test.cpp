#include <gtest/gtest.h>
#include <QApplication>
#include <QImage>

#include "framework/dc.h"
#include "framework/image_list.h"
#include "framework/sys_colors.h"
#include "resources/resource.h"
#include "tests/support/drawing_target.h"

namespace {

constexpr QRgb kWhite = 0xFFFFFFFF;

QRgb Rgb(COLORREF c) { return ToQColor(c).rgb(); }

TEST(Lines, CoverTheirStartButNotTheirEnd) {
  DrawingTarget canvas;
  CPen red(RGB(255, 0, 0));
  const CPen* previous = canvas.dc->SelectObject(&red);
  EXPECT_EQ(previous, nullptr);
  canvas.dc->MoveTo(5, 2);
  canvas.dc->LineTo(5, 5);  // down: rows 2..4
  canvas.dc->MoveTo(20, 9);
  canvas.dc->LineTo(17, 9);  // leftward: columns 20..18
  const QImage image = canvas.Done();
  for (int y = 2; y <= 4; ++y) EXPECT_EQ(image.pixel(5, y), qRgb(255, 0, 0)) << y;
  EXPECT_EQ(image.pixel(5, 5), kWhite);
  EXPECT_EQ(image.pixel(5, 1), kWhite);
  for (int x = 18; x <= 20; ++x) EXPECT_EQ(image.pixel(x, 9), qRgb(255, 0, 0)) << x;
  EXPECT_EQ(image.pixel(17, 9), kWhite);
}

TEST(Frames, DarkSidesStopShortOfTheFarCorners) {
  DrawingTarget canvas;
  canvas.dc->Draw3dRect(CRect(2, 2, 10, 8), RGB(0, 0, 255), RGB(0, 255, 0));
  const QImage image = canvas.Done();
  const QRgb blue = qRgb(0, 0, 255), green = qRgb(0, 255, 0);
  EXPECT_EQ(image.pixel(2, 2), blue);
  EXPECT_EQ(image.pixel(8, 2), blue);
  EXPECT_EQ(image.pixel(9, 2), green);  // top-right corner belongs to the light side
  EXPECT_EQ(image.pixel(2, 6), blue);
  EXPECT_EQ(image.pixel(2, 7), green);  // bottom-left corner too
  EXPECT_EQ(image.pixel(9, 7), green);
  EXPECT_EQ(image.pixel(5, 5), kWhite);  // inside untouched
  EXPECT_EQ(image.pixel(10, 5), kWhite);
}

TEST(Frames, SunkenEdgeIsTwoFramesInTheSystemColours) {
  DrawingTarget canvas;
  CRect box(3, 3, 16, 16);
  canvas.dc->DrawEdge(&box, EDGE_SUNKEN, BF_RECT);
  const QImage image = canvas.Done();
  EXPECT_EQ(image.pixel(3, 3), Rgb(GetSysColor(COLOR_BTNSHADOW)));
  EXPECT_EQ(image.pixel(15, 15), Rgb(GetSysColor(COLOR_BTNHIGHLIGHT)));
  EXPECT_EQ(image.pixel(4, 4), Rgb(GetSysColor(COLOR_3DDKSHADOW)));
  EXPECT_EQ(image.pixel(14, 14), Rgb(GetSysColor(COLOR_3DLIGHT)));
  EXPECT_EQ(image.pixel(9, 9), kWhite);
}

TEST(Fills, NegativeExtentsGrowTowardTheOrigin) {
  DrawingTarget canvas;
  canvas.dc->FillSolidRect(10, 10, -3, -2, RGB(1, 2, 3));
  const QImage image = canvas.Done();
  EXPECT_EQ(image.pixel(7, 8), qRgb(1, 2, 3));
  EXPECT_EQ(image.pixel(9, 9), qRgb(1, 2, 3));
  EXPECT_EQ(image.pixel(10, 9), kWhite);
  EXPECT_EQ(image.pixel(6, 8), kWhite);
}

TEST(Text, OpaqueBackgroundOnlyBehindTheTextAndEllipsisWhenTooWide) {
  DrawingTarget canvas(QSize(200, 20));
  canvas.dc->SetTextColor(RGB(0, 0, 255));
  canvas.dc->SetBkColor(RGB(255, 0, 0));
  CRect rect(0, 0, 60, 20);
  canvas.dc->DrawText(QStringLiteral("A very long column title"), &rect,
                      DT_CENTER | DT_VCENTER | DT_SINGLELINE | DT_END_ELLIPSIS);
  const QImage image = canvas.Done();
  int rightmost = -1;
  for (int x = 0; x < 200; ++x) {
    for (int y = 0; y < 20; ++y) {
      if (image.pixel(x, y) != kWhite) rightmost = std::max(rightmost, x);
    }
  }
  EXPECT_GE(rightmost, 0);
  EXPECT_LT(rightmost, 60);               // elided and clipped inside the rectangle
  EXPECT_EQ(image.pixel(30, 0), kWhite);  // no fill above the text line
}

TEST(ClipBox, FollowsTheWindowOrigin) {
  DrawingTarget canvas;
  CRect box;
  EXPECT_EQ(canvas.dc->GetClipBox(&box), SIMPLEREGION);
  EXPECT_EQ(box, CRect(0, 0, 40, 40));
  canvas.dc->SetWindowOrg(10, 5);
  canvas.dc->GetClipBox(&box);
  EXPECT_EQ(box, CRect(10, 5, 50, 45));
  canvas.dc->FillSolidRect(CRect(10, 5, 11, 6), RGB(0, 0, 0));  // lands at device (0, 0)
  EXPECT_EQ(canvas.Done().pixel(0, 0), qRgb(0, 0, 0));
}

TEST(ImageLists, FromTheCheckBoxStripWithItsMask) {
  CImageList images;
  ASSERT_TRUE(images.Create(IDB_CHECKBOXES, 16, 3, RGB(255, 0, 255)));
  EXPECT_EQ(images.GetImageCount(), 3);
  CRect info;
  EXPECT_TRUE(images.GetImageInfo(0, &info));
  EXPECT_EQ(info, CRect(0, 0, 16, 16));
  EXPECT_FALSE(images.GetImageInfo(3, &info));
  EXPECT_EQ(qAlpha(images.Image(0).pixel(0, 0)), 0);
  EXPECT_EQ(images.Image(1).pixel(3, 2), qRgb(134, 134, 134));

  // With a background colour the masked pixels take that colour.
  DrawingTarget canvas(QSize(16, 16));
  images.SetBkColor(RGB(10, 20, 30));
  images.Draw(&*canvas.dc, 1, 0, 0, 16, 16);
  const QImage image = canvas.Done();
  EXPECT_EQ(image.pixel(0, 0), qRgb(10, 20, 30));
  EXPECT_EQ(image.pixel(8, 8), kWhite);  // the box face
}

}  // namespace
