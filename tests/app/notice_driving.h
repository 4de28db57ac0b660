#pragma once
// The notice of a blocked program as a user reads it and answers it.
#include <QLineEdit>
#include <QStringList>
#include <QTest>
#include <QWindow>

#include "app/blocked_notice_dlg.h"
#include "resources/resource.h"

// "name|path|port|from|count", or "" while the notice is hidden.
inline QString NoticeText(CBlockedNoticeDlg* notice) {
  if (!notice || !notice->isVisible()) return {};
  auto* path = qobject_cast<QLineEdit*>(notice->GetDlgItem(IDC_BLOCKED_PATH));
  return QStringList{notice->m_name.text(), path ? path->text() : "?", notice->m_port.text(), notice->m_remote.text(),
                     notice->m_count.text()}
      .join(u'|');
}

// Clicks button `id` through the notice's own window, as the window system delivers a user's
// click: a window that a modal one blocks never gets it.
inline void ClickNotice(CBlockedNoticeDlg& notice, int id) {
  QTest::mouseClick(notice.windowHandle(), Qt::LeftButton, {}, notice.GetDlgItem(id)->geometry().center());
}
