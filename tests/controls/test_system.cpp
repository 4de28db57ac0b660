#include "tests/controls/test_system.h"

#include <gtest/gtest.h>
#include <QApplication>
#include <QFont>
#include <QPalette>

#include "framework/sys_colors.h"

void test_system::Apply() {
  QPalette palette;
  palette.setColor(QPalette::Base, ToQColor(kWindow));
  palette.setColor(QPalette::Text, ToQColor(kWindowText));
  palette.setColor(QPalette::Highlight, ToQColor(kHighlight));
  palette.setColor(QPalette::HighlightedText, ToQColor(kHighlightText));
  palette.setColor(QPalette::Button, ToQColor(kFace));
  palette.setColor(QPalette::Light, ToQColor(kHilite));
  palette.setColor(QPalette::Dark, ToQColor(kShadow));
  palette.setColor(QPalette::Shadow, ToQColor(kDarkShadow));
  palette.setColor(QPalette::Midlight, ToQColor(kLight));
  QApplication::setPalette(palette);
  QFont font = QApplication::font();
  font.setStyleStrategy(QFont::NoAntialias);
  QApplication::setFont(font);
  QApplication::processEvents();
}

namespace {

class PaletteEnvironment : public ::testing::Environment {
 public:
  void SetUp() override { test_system::Apply(); }
};

[[maybe_unused]] ::testing::Environment* const kEnvironment =
    ::testing::AddGlobalTestEnvironment(new PaletteEnvironment);

}  // namespace
