#pragma once

#include "framework/dialog.h"

// The About box. OK, Enter, Escape and the close box end it. Its second line says what
// becomes of the firewall's rules in this run.
class CAboutDlg : public CDialog {
 public:
  CAboutDlg();

 protected:
  BOOL OnInitDialog() override;
};
