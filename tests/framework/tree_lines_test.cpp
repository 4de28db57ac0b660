#include <gtest/gtest.h>
#include <QStandardItemModel>

#include "framework/controls.h"
#include "framework/dialog.h"
#include "resources/resource.h"

namespace {

// The traffic page's tree (buttons, lines, none at the top level) over two top-level items:
// the first holds an expanded item with two children and a collapsed one with a child. The
// texts are empty, so that a row shows nothing but what the tree draws before it.
class TreeLines : public ::testing::Test {
 protected:
  void SetUp() override {
    page.Create(IDD_SNIFFER_PAGE, &host);
    tree = dynamic_cast<CTreeCtrl*>(page.GetDlgItem(IDC_PACKET_TREE));
    ASSERT_NE(tree, nullptr);
    auto* first = new QStandardItem;
    auto* expanded = new QStandardItem;
    auto* collapsed = new QStandardItem;
    expanded->appendRows({new QStandardItem, new QStandardItem});
    collapsed->appendRow(new QStandardItem);
    first->appendRows({expanded, collapsed});
    model.appendRow(first);
    model.appendRow(new QStandardItem);
    tree->setModel(&model);
    tree->expand(first->index());
    tree->expand(expanded->index());
    host.resize(page.size());
    host.show();
    page.show();
    image = tree->viewport()->grab().toImage();
    line = tree->palette().color(QPalette::Dark).rgb();
  }

  // The rows top to bottom: first, expanded, its two children, collapsed, the second top item.
  QRect Row(int row) const {
    const QModelIndex first = model.index(0, 0);
    const QModelIndex expanded = model.index(0, 0, first);
    const QModelIndex indexes[] = {first,
                                   expanded,
                                   model.index(0, 0, expanded),
                                   model.index(1, 0, expanded),
                                   model.index(1, 0, first),
                                   model.index(1, 0)};
    const QRect item = tree->visualRect(indexes[row]);
    return QRect(0, item.top(), image.width(), item.height());
  }
  // The centre of the column of indentation level (0 for the top level's children).
  int Centre(int level) const { return level * tree->indentation() + tree->indentation() / 2; }
  int Dots(QRect area) const {
    int count = 0;
    for (int y = area.top(); y <= area.bottom(); ++y) {
      for (int x = area.left(); x <= area.right(); ++x) count += image.pixel(x, y) == line;
    }
    return count;
  }

  QWidget host;
  CDialog page{IDD_SNIFFER_PAGE};
  CTreeCtrl* tree = nullptr;
  QStandardItemModel model;
  QImage image;
  QRgb line = 0;
};

TEST_F(TreeLines, JoinItemsBelowTheTopLevelWithDottedLines) {
  const int h = Row(2).height();
  const int twoColumns = 2 * tree->indentation();
  // The expanded item's children: its sibling below carries its line down past them; their
  // own lines run from the top, down through a child that has a sibling below, and across.
  for (int row : {2, 3}) {
    const QRect r = Row(row);
    const int middle = r.top() + h / 2;
    EXPECT_NEAR(Dots(QRect(Centre(0), r.top(), 1, h)), h / 2, 1) << row;
    EXPECT_GT(Dots(QRect(Centre(1) + 1, middle, twoColumns - Centre(1) - 1, 1)), 2) << row;
    EXPECT_GT(Dots(QRect(Centre(1), r.top(), 1, middle - r.top())), 2) << row;
    EXPECT_EQ(Dots(QRect(Centre(1), middle + 1, 1, r.bottom() - middle)) > 0, row == 2) << row;
  }
  // Dots, not a solid line: no two neighbours along a line.
  const QRect r = Row(2);
  for (int y = r.top(); y < r.bottom(); ++y) {
    EXPECT_FALSE(image.pixel(Centre(0), y) == line && image.pixel(Centre(0), y + 1) == line) << y;
  }
  // Nothing at the top level: no line joins the two top-level items or leads to them.
  for (int row : {0, 5}) EXPECT_EQ(Dots(QRect(0, Row(row).top(), twoColumns, h)), 0) << row;
}

TEST_F(TreeLines, ItemsWithChildrenBelowTheTopLevelHaveABoxedPlusOrMinus) {
  const QRgb sign = tree->palette().color(QPalette::Text).rgb();
  const QRgb face = tree->palette().color(QPalette::Base).rgb();
  for (int row : {1, 4}) {
    const QPoint centre(Centre(0), Row(row).top() + Row(row).height() / 2);
    EXPECT_EQ(image.pixel(centre), sign) << row;
    EXPECT_EQ(image.pixel(centre + QPoint(2, 0)), sign) << row;
    EXPECT_EQ(image.pixel(centre - QPoint(0, 2)), row == 4 ? sign : face) << "plus only while collapsed";
    EXPECT_EQ(image.pixel(centre - QPoint(4, 0)), line) << "the box's side";
    EXPECT_EQ(image.pixel(centre + QPoint(0, 4)), line) << "the box's bottom";
  }
  EXPECT_EQ(image.pixel(Centre(0), Row(0).top() + Row(0).height() / 2), face) << "no box at the top level";
}

}  // namespace
