#pragma once

#include "resources/window_styles.h"

class QWidget;

// Id and style of a control made from a dialog template, kept on the widget itself.
int GetDlgCtrlID(const QWidget* control);
DWORD GetWindowStyle(const QWidget* control);
void SetDlgCtrlID(QWidget* control, int id);
void SetWindowStyle(QWidget* control, DWORD style);
void ModifyStyle(QWidget* control, DWORD remove, DWORD add);

// A control class of the program. When a dialog's data exchange binds a member of such a
// class to a template control, the member takes that control's place, id, style and text,
// and is then told so here, to set itself up from its style.
class CControlWnd {
 public:
  virtual ~CControlWnd() = default;
  virtual void PreSubclassWindow() {}
};
