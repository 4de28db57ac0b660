#pragma once

#include <QStringList>

#include "controls/x_list_ctrl.h"

// A list's rows as the user reads them: "check|text|text|...", the check as -1, 0 or 1.
inline QStringList ListRows(const CXListCtrl& list) {
  QStringList rows;
  for (int row = 0; row < list.GetItemCount(); ++row) {
    QStringList cells{QString::number(list.GetCellCheck(row, 0))};
    for (int column = 1; column < list.GetColumnCount(); ++column) cells << list.GetItemText(row, column);
    rows << cells.join(u'|');
  }
  return rows;
}
