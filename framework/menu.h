#pragma once

#include <QMenu>
#include <QString>

#include "framework/win_types.h"

class CDialog;

inline constexpr UINT MF_STRING = 0x0000;
inline constexpr UINT MF_SEPARATOR = 0x0800;

// A window's own window menu: its commands reach the window as WM_SYSCOMMAND.
class CMenu {
 public:
  explicit CMenu(CDialog* owner);

  BOOL AppendMenu(UINT flags, UINT id = 0, const QString& text = {});
  void Popup(const QPoint& globalPosition);
  QMenu* GetMenu() { return &m_menu; }

 private:
  CDialog* m_owner;
  QMenu m_menu;
};
