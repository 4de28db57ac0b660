#pragma once

#include "app/framework/dialog.h"

// The "View Traffic" page.
class CSnifferDlg : public CEscapeProofDialog {
 public:
  explicit CSnifferDlg(QWidget* parent);
};
