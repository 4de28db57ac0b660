#include <gtest/gtest.h>
#include <QStandardItemModel>

#include "framework/controls.h"
#include "framework/dialog.h"
#include "resources/resource.h"

namespace {

// The traffic page's tree (buttons and lines, none at the top level) with empty texts, so that
// a row shows only what the tree draws before its item. Rows: top item, expanded item, its two
// children, collapsed item with a child, second top item.
TEST(TreeLines, JoinItemsBelowTheTopLevelAndBoxTheirButtons) {
  QWidget host;
  CDialog page(IDD_SNIFFER_PAGE);
  page.Create(IDD_SNIFFER_PAGE, &host);
  auto* tree = dynamic_cast<CTreeCtrl*>(page.GetDlgItem(IDC_PACKET_TREE));
  ASSERT_NE(tree, nullptr);
  QStandardItemModel model;
  auto* top = new QStandardItem;
  auto* expanded = new QStandardItem;
  auto* collapsed = new QStandardItem;
  expanded->appendRows({new QStandardItem, new QStandardItem});
  collapsed->appendRow(new QStandardItem);
  top->appendRows({expanded, collapsed});
  model.appendRow(top);
  model.appendRow(new QStandardItem);
  tree->setModel(&model);
  tree->expand(top->index());
  tree->expand(expanded->index());
  host.resize(page.size());
  host.show();
  page.show();
  const QImage image = tree->viewport()->grab().toImage();

  const QRgb line = tree->palette().color(QPalette::Dark).rgb();
  const QModelIndex rows[] = {
      top->index(),       expanded->index(), expanded->child(0)->index(), expanded->child(1)->index(),
      collapsed->index(), model.index(1, 0)};
  const int h = tree->visualRect(rows[0]).height();
  const auto middle = [&](int row) { return tree->visualRect(rows[row]).top() + h / 2; };
  // The centre of the column of an indentation level, 0 for the top level's children.
  const auto centre = [&](int level) { return level * tree->indentation() + tree->indentation() / 2; };
  const auto dots = [&](QRect area) {
    int count = 0;
    for (int y = area.top(); y <= area.bottom(); ++y) {
      for (int x = area.left(); x <= area.right(); ++x) count += image.pixel(x, y) == line;
    }
    return count;
  };

  // The children of the expanded item: the line of its sibling below passes them; their own
  // lines come down from above, go on past a child with a sibling below, and lead across.
  for (int row : {2, 3}) {
    const int top = middle(row) - h / 2;
    EXPECT_NEAR(dots(QRect(centre(0), top, 1, h)), h / 2, 1) << row;
    EXPECT_GT(dots(QRect(centre(1), top, 1, h / 2)), 2) << row;
    EXPECT_EQ(dots(QRect(centre(1), middle(row) + 1, 1, h - h / 2 - 1)) > 0, row == 2) << row;
    EXPECT_GT(dots(QRect(centre(1) + 1, middle(row), tree->indentation() / 2 - 1, 1)), 2) << row;
  }
  // No line joins or leads to the top-level items.
  for (int row : {0, 5}) EXPECT_EQ(dots(QRect(0, middle(row) - h / 2, 2 * tree->indentation(), h)), 0) << row;

  // Boxed buttons below the top level: a minus, and a plus while collapsed.
  const QRgb sign = tree->palette().color(QPalette::Text).rgb();
  const QRgb face = tree->palette().color(QPalette::Base).rgb();
  for (int row : {1, 4}) {
    const QPoint button(centre(0), middle(row));
    EXPECT_EQ(image.pixel(button + QPoint(2, 0)), sign) << row;
    EXPECT_EQ(image.pixel(button - QPoint(0, 2)), row == 4 ? sign : face) << row;
    EXPECT_EQ(image.pixel(button - QPoint(4, 0)), line) << row;
  }
  EXPECT_EQ(image.pixel(centre(0), middle(0)), face) << "no button at the top level";
}

}  // namespace
