#pragma once

#include <QApplication>
#include <QTest>
#include <QWidget>
#include <vector>

#include "framework/control_wnd.h"

// The id of the dialog control that holds the keyboard focus, which may lie on a part of it
// (a tab control's tab bar); 0 when no control does.
inline int FocusedControlId() {
  for (const QWidget* w = QApplication::focusWidget(); w; w = w->parentWidget()) {
    if (const int id = GetDlgCtrlID(w)) return id;
  }
  return 0;
}

// Presses a key on whatever holds the focus, times times, and gives the controls the focus
// went to.
inline std::vector<int> PressAndFollowFocus(Qt::Key key, int times, Qt::KeyboardModifiers modifiers = {}) {
  std::vector<int> ids;
  for (int i = 0; i < times; ++i) {
    QTest::keyClick(QApplication::focusWidget(), key, modifiers);
    ids.push_back(FocusedControlId());
  }
  return ids;
}
