#include <gtest/gtest.h>
#include <QApplication>

#include "app/skin/skin.h"

namespace {

TEST(Skin, AppliesTheDialogSectionUntilShutDown) {
  const HINSTANCE module = AfxGetInstanceHandle();
  EXPECT_FALSE(SkinLoadFromResource(module, "DEFAULT", "SKINMAGIC"));  // not started yet
  ASSERT_TRUE(SkinInitialize(module, "SCRIBBLE", nullptr, nullptr));
  EXPECT_FALSE(SkinLoadFromResource(module, "MISSING", "SKINMAGIC"));
  ASSERT_TRUE(SkinLoadFromResource(module, "DEFAULT", "SKINMAGIC"));
  EXPECT_FALSE(SkinSelectWindowSkin("Menu"));
  EXPECT_TRUE(qApp->styleSheet().isEmpty());
  ASSERT_TRUE(SkinSelectWindowSkin("Dialog"));
  EXPECT_TRUE(qApp->styleSheet().startsWith(u"/*"));
  EXPECT_TRUE(qApp->styleSheet().contains(u"QDialog"));
  EXPECT_FALSE(qApp->styleSheet().contains(u"[Dialog]"));

  EXPECT_TRUE(SkinShutdown());
  EXPECT_TRUE(qApp->styleSheet().isEmpty());
  EXPECT_FALSE(SkinShutdown());  // once only
}

}  // namespace
