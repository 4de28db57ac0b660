#include <gtest/gtest.h>

#include "framework/dialog_units.h"
#include "resources/custom_resource.h"
#include "resources/dialog_template.h"
#include "resources/images.h"
#include "resources/resource.h"

namespace {

const ControlTemplate& Control(int dialogId, int controlId) {
  const DialogTemplate* dialog = FindDialogTemplate(dialogId);
  for (const ControlTemplate& control : dialog->controls) {
    if (control.id == controlId) return control;
  }
  throw std::runtime_error("no such control");
}

QRect PixelRect(const ControlTemplate& c) { return DialogUnitsToPixels(c.x, c.y, c.cx, c.cy); }

TEST(CheckBoxBitmap, IsAStripOfThreeImagesWithTheDocumentedBoxes) {
  const QImage strip = LoadBitmapResource(IDB_CHECKBOXES);
  ASSERT_EQ(strip.size(), QSize(48, 16));
  EXPECT_EQ(strip.format(), QImage::Format_Indexed8);

  const QRgb magenta = qRgb(255, 0, 255), outer = qRgb(134, 134, 134), inner = qRgb(4, 4, 4),
             light = qRgb(192, 192, 192), white = qRgb(255, 255, 255);
  for (int x = 0; x < 16; ++x) {
    for (int y = 0; y < 16; ++y) ASSERT_EQ(strip.pixel(x, y), magenta) << x << "," << y;
  }
  for (int image = 1; image <= 2; ++image) {
    const int left = 16 * image + 3, top = 2;
    // Outside the 13x13 box the image is mask colour.
    EXPECT_EQ(strip.pixel(left - 1, top), magenta);
    EXPECT_EQ(strip.pixel(left, top - 1), magenta);
    if (left + 13 < strip.width()) {
      EXPECT_EQ(strip.pixel(left + 13, top + 5), magenta);
    }
    EXPECT_EQ(strip.pixel(left + 5, top + 13), magenta);
    // Edges: dark sides stop short of the far corner, light sides run the whole length.
    for (int i = 0; i < 12; ++i) {
      EXPECT_EQ(strip.pixel(left + i, top), outer);
      EXPECT_EQ(strip.pixel(left, top + i), outer);
    }
    for (int i = 0; i < 13; ++i) {
      EXPECT_EQ(strip.pixel(left + 12, top + i), white);
      EXPECT_EQ(strip.pixel(left + i, top + 12), white);
    }
    for (int i = 1; i < 11; ++i) {
      EXPECT_EQ(strip.pixel(left + i, top + 1), inner);
      EXPECT_EQ(strip.pixel(left + 1, top + i), inner);
    }
    for (int i = 1; i < 12; ++i) {
      EXPECT_EQ(strip.pixel(left + 11, top + i), light);
      EXPECT_EQ(strip.pixel(left + i, top + 11), light);
    }
  }
  // The faces: all white when unchecked; the checked face carries a mark seven pixels wide.
  int marked = 0;
  int minX = 99, maxX = -1;
  for (int y = 4; y < 13; ++y) {
    for (int x = 0; x < 9; ++x) {
      EXPECT_EQ(strip.pixel(16 + 5 + x, y), white);
      const QRgb checked = strip.pixel(32 + 5 + x, y);
      EXPECT_TRUE(checked == white || checked == inner);
      if (checked == inner) {
        ++marked;
        minX = std::min(minX, x);
        maxX = std::max(maxX, x);
      }
    }
  }
  EXPECT_EQ(maxX - minX + 1, 7);
  EXPECT_EQ(marked, 21);
}

TEST(DialogTemplates, ConvertToTheDocumentedPixelSizes) {
  // A list 333 units wide is 500 pixels wide, wherever it stands.
  EXPECT_EQ(PixelRect(Control(IDD_PROGRAM_PAGE, IDC_PROGRAM_LIST)), QRect(2, 2, 500, 167));
  EXPECT_EQ(PixelRect(Control(IDD_PORT_PAGE, IDC_PORT_LIST)).width(), 503);
  const DialogTemplate* main = FindDialogTemplate(IDD_FIREWALL_DIALOG);
  ASSERT_NE(main, nullptr);
  EXPECT_EQ(DialogUnitsToPixelsX(main->cx), 554);
  EXPECT_EQ(DialogUnitsToPixelsY(main->cy), 401);
  EXPECT_EQ(PixelRect(Control(IDD_FIREWALL_DIALOG, IDC_PAGE_FRAME)).topLeft(), QPoint(23, 39));
  EXPECT_EQ(PixelRect(Control(IDD_BANNER, IDC_BANNER_BITMAP)), QRect(3, 0, 539, 60));
}

TEST(DialogTemplates, AllExistWithTheirKeyControls) {
  for (int id : {IDD_ABOUTBOX, IDD_FIREWALL_DIALOG, IDD_PORT_PAGE, IDD_PROGRAM_PAGE, IDD_PAGE_HOST, IDD_BANNER,
                 IDD_BANNER_HOST, IDD_SNIFFER_PAGE}) {
    EXPECT_NE(FindDialogTemplate(id), nullptr) << id;
  }
  EXPECT_EQ(FindDialogTemplate(999), nullptr);
  EXPECT_EQ(Control(IDD_FIREWALL_DIALOG, IDOK).kind, ControlKind::DefPushButton);
  EXPECT_STREQ(Control(IDD_FIREWALL_DIALOG, IDCANCEL).text, "Exit");
  // The traffic page's selector and group exist but are not visible by style.
  EXPECT_FALSE(Control(IDD_SNIFFER_PAGE, IDC_INTERFACE_COMBO).style & WS_VISIBLE);
  EXPECT_TRUE(Control(IDD_SNIFFER_PAGE, IDC_INTERFACE_COMBO).style & CBS_SORT);
  EXPECT_FALSE(Control(IDD_SNIFFER_PAGE, IDC_PACKET_TREE).style & TVS_LINESATROOT);
  // Pages and containers are children that start hidden.
  for (int id : {IDD_PORT_PAGE, IDD_PROGRAM_PAGE, IDD_PAGE_HOST, IDD_BANNER, IDD_BANNER_HOST, IDD_SNIFFER_PAGE}) {
    EXPECT_EQ(FindDialogTemplate(id)->style & (WS_CHILD | WS_VISIBLE), WS_CHILD) << id;
  }
}

TEST(Pictures, HaveTheirSizesAndFormats) {
  const QImage banner = LoadBitmapResource(IDB_BANNER);
  EXPECT_EQ(banner.size(), QSize(468, 60));
  EXPECT_EQ(banner.format(), QImage::Format_RGB16);
  EXPECT_FALSE(LoadIconResource(IDR_MAINFRAME).pixmap(32, 32).isNull());
  for (int id : {IDI_PACKET, IDI_HEADER, IDI_FIELD}) {
    EXPECT_EQ(LoadIconResource(id).availableSizes(), QList<QSize>{QSize(16, 16)}) << id;
  }
  EXPECT_TRUE(LoadIconResource(4242).isNull());
  EXPECT_EQ(LoadStringResource(IDS_ABOUTBOX), QStringLiteral("&About Brenvo..."));
}

TEST(CustomResources, TheSkinIsStoredUnderItsNameAndType) {
  const QByteArray skin = LoadCustomResource("DEFAULT", "SKINMAGIC");
  EXPECT_TRUE(skin.contains("[Dialog]"));
  EXPECT_TRUE(LoadCustomResource("DEFAULT", "OTHER").isEmpty());
}

}  // namespace
