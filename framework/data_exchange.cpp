#include "framework/data_exchange.h"

#include <QLineEdit>

#include "framework/dialog.h"

CDataExchange::CDataExchange(CDialog* dialog, Mode mode)
    : m_mode(mode), m_bSaveAndValidate(mode == Mode::ControlsToMembers), m_pDlgWnd(dialog) {}

void DDX_Control(CDataExchange* pDX, int id, QWidget& control) {
  if (pDX->m_mode == CDataExchange::Mode::BindControls) pDX->m_bound[id] = &control;
}

void DDX_Text(CDataExchange* pDX, int id, QString& value) {
  auto* edit = qobject_cast<QLineEdit*>(pDX->m_pDlgWnd->GetDlgItem(id));
  if (!edit || pDX->m_mode == CDataExchange::Mode::BindControls) return;
  if (pDX->m_bSaveAndValidate) {
    value = edit->text();
  } else {
    edit->setText(value);
  }
}
