#pragma once

#include "app/framework/dialog.h"

// The "View Ports" page.
class CPortDlg : public CEscapeProofDialog {
 public:
  explicit CPortDlg(QWidget* parent);
};
