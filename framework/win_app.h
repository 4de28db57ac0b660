#pragma once

#include <QString>

#include "framework/message_map.h"
#include "framework/win_types.h"

class QWidget;

// The application object: exactly one exists, built during static initialisation. Its
// InitInstance runs once the toolkit is up and before any window exists; when it returns
// false the process goes straight to ExitInstance, with no event loop of the program's own.
class CWinApp {
 public:
  CWinApp();
  virtual ~CWinApp();
  CWinApp(const CWinApp&) = delete;
  CWinApp& operator=(const CWinApp&) = delete;

  virtual BOOL InitInstance();
  virtual int ExitInstance();

  // The settings root: the name under which settings would be kept.
  void SetRegistryKey(const char* key);
  HICON LoadIcon(int id) const;

  QWidget* m_pMainWnd = nullptr;
};

CWinApp* AfxGetApp();

// Opaque handle of the running module, handed to libraries that look up its resources.
using HINSTANCE = const void*;
HINSTANCE AfxGetInstanceHandle();

// Gives the common controls their look: one style on every desktop.
void InitCommonControls();

// Runs the application object: toolkit start, InitInstance, ExitInstance. Returns the exit code.
int AfxWinMain(int argc, char** argv);
