#pragma once

#include "app/framework/dialog.h"

// The "Add/Remove Programs" page.
class CProgramDlg : public CEscapeProofDialog {
 public:
  explicit CProgramDlg(QWidget* parent);
};
