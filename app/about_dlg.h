#pragma once

#include "framework/dialog.h"

// The About box. OK, Enter, Escape and the close box end it.
class CAboutDlg : public CDialog {
 public:
  CAboutDlg();
};
