// The list control's model keeps the promises every view relies on while rows and columns
// come and go.
#include <gtest/gtest.h>

#include <QAbstractItemModelTester>

#include "framework/list_ctrl.h"

namespace {

TEST(ListModel, KeepsTheItemModelContractThroughEveryChange) {
  CListCtrl list;
  list.PreSubclassWindow();
  QAbstractItemModelTester tester(list.model(), QAbstractItemModelTester::FailureReportingMode::Fatal);
  for (int column = 0; column < 3; ++column) list.InsertColumn(column, QStringLiteral("Column"), LVCFMT_LEFT, 50);
  for (int item = 0; item < 5; ++item) list.InsertItem(item, "row");
  list.InsertItem(2, "middle");
  list.InsertItem(0, "first");
  list.InsertItem(100, "past the end");
  for (int item = 0; item < list.GetItemCount(); ++item) list.SetItemText(item, 2, "text");
  list.SetItemData(1, 42);
  EXPECT_EQ(list.GetItemText(0, 0), QStringLiteral("first"));
  EXPECT_EQ(list.GetItemText(3, 0), QStringLiteral("middle"));
  EXPECT_EQ(list.GetItemText(list.GetItemCount() - 1, 0), QStringLiteral("past the end"));
  list.DeleteAllItems();
  EXPECT_EQ(list.GetItemCount(), 0);
  list.InsertItem(0, "again");
  EXPECT_EQ(list.model()->rowCount(), 1);
  EXPECT_EQ(list.model()->columnCount(), 3);
}

}  // namespace
