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
  // The process's exit status: the one AfxPostQuitMessage gave, else 0.
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

// Runs the application object: toolkit start, InitInstance, ExitInstance. Returns the exit
// code. Meanwhile SIGTERM and SIGINT end the run from the event loop, as AfxPostQuitMessage(0)
// does, so that every window, and whatever thread a window owns, ends before the process.
int AfxWinMain(int argc, char** argv);

// Ends the application's run, as the platform's quit message does: open menus close, every
// modal dialog ends with the cancel result (the innermost first, asking no handler), and so
// does the main window, also when it is still initialising. Once its windows are gone the
// process exits with `exitCode`. GUI thread only.
void AfxPostQuitMessage(int exitCode);
