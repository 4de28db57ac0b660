#include <gtest/gtest.h>
#include <QImage>

#include "controls/mem_dc.h"
#include "tests/controls/pixels.h"
#include "tests/support/drawing_target.h"

namespace {

constexpr COLORREF kRed = RGB(255, 0, 0);
constexpr COLORREF kBlue = RGB(0, 0, 255);
const QRgb kWhite = qRgb(255, 255, 255);

TEST(MemDC, DrawsOffScreenAndCopiesOnlyItsClipBoxWhenDestroyed) {
  DrawingTarget target(QSize(60, 40), QRect(10, 5, 20, 15));
  {
    CMemDC memory(&*target.dc);
    CRect clip;
    ASSERT_NE(memory.GetClipBox(&clip), ERROR_REGION);
    EXPECT_EQ(clip, CRect(10, 5, 30, 20));
    // Far more than the clip box, in the target's coordinates.
    memory.FillSolidRect(CRect(0, 0, 60, 40), kRed);
    memory.FillSolidRect(CRect(10, 5, 11, 6), kBlue);
    memory.FillSolidRect(CRect(29, 19, 30, 20), kBlue);
    EXPECT_EQ(target.image.pixel(15, 10), kWhite) << "drawn straight onto the target";
  }
  const QImage image = target.Done();
  EXPECT_EQ(image.pixel(15, 10), Rgb(kRed));
  EXPECT_EQ(image.pixel(10, 5), Rgb(kBlue));
  EXPECT_EQ(image.pixel(29, 19), Rgb(kBlue));
  EXPECT_EQ(CountOtherThan(image, Rgb(kRed), QRect(10, 5, 20, 15)), 2);
  // Nothing outside the clip box changes.
  EXPECT_EQ(CountOtherThan(image, kWhite, image.rect()), 20 * 15);
}

TEST(MemDC, WithoutAnAreaToRepaintItPaintsNothing) {
  DrawingTarget target(QSize(20, 20), QRect(5, 5, 0, 8));
  {
    CMemDC memory(&*target.dc);
    CRect clip;
    EXPECT_EQ(memory.GetClipBox(&clip), ERROR_REGION);
  }
  const QImage image = target.Done();
  EXPECT_EQ(CountOtherThan(image, kWhite, image.rect()), 0);
}

TEST(MemDC, KeepsEveryPixelOfADenseScreen) {
  DrawingTarget target(QSize(20, 20), QRect(0, 0, 20, 20), 2);
  {
    CMemDC memory(&*target.dc);
    memory.FillSolidRect(CRect(0, 0, 20, 20), RGB(255, 255, 255));
    memory.FillSolidRect(CRect(3, 4, 4, 5), kRed);
  }
  const QImage image = target.Done();
  // One point is two by two device pixels, with sharp edges.
  EXPECT_EQ(CountOtherThan(image, kWhite, image.rect()), 4);
  EXPECT_EQ(BoundsOf(image, Rgb(kRed), image.rect()), QRect(6, 8, 2, 2));
}

}  // namespace
