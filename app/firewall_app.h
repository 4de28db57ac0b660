#pragma once

#include "framework/win_app.h"

// The application: prepares the toolkit and the skin, then runs the main window as a modal
// dialog. The process ends when that dialog closes.
class CfirewallApp : public CWinApp {
 public:
  BOOL InitInstance() override;
  int ExitInstance() override;
};
