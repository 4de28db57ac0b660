#include "framework/menu.h"

#include "framework/dialog.h"

CMenu::CMenu(CDialog* owner) : m_owner(owner) {}

BOOL CMenu::AppendMenu(UINT flags, UINT id, const QString& text) {
  if (flags & MF_SEPARATOR) {
    m_menu.addSeparator();
    return 1;
  }
  QAction* action = m_menu.addAction(text);
  QObject::connect(action, &QAction::triggered, m_owner,
                   [owner = m_owner, id] { owner->SendMessage(WM_SYSCOMMAND, id, 0); });
  return 1;
}

void CMenu::Popup(const QPoint& globalPosition) { m_menu.popup(globalPosition); }
