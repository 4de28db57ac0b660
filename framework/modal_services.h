#pragma once

#include <QString>
#include <QStringList>
#include <optional>

#include "framework/win_types.h"

class QWidget;

// Everything that would block on the user or reach outside the process goes through here:
// message boxes, the open-file dialog, opening a web address, starting a program.
// Tests install their own implementation so that no test ever waits on a real modal.
class ModalServices {
 public:
  virtual ~ModalServices() = default;
  // Returns the id of the button that ended the box (IDOK for an OK box).
  virtual int MessageBox(QWidget* owner, const QString& text, const QString& caption, UINT type) = 0;
  // The chosen files, or nothing when the dialog was cancelled.
  virtual std::optional<QStringList> OpenFileDialog(QWidget* owner, const QString& filter, bool allowMultiple) = 0;
  virtual bool OpenUrl(const QString& url) = 0;
  virtual bool StartProgram(const QString& program, const QStringList& arguments) = 0;
};

ModalServices& Services();
// The desktop's own services, whatever is put in their place (tests that need one real part).
ModalServices& DesktopModalServices();

// Puts other services in place for the life of this object (tests).
class ScopedModalServices {
 public:
  explicit ScopedModalServices(ModalServices& replacement);
  ~ScopedModalServices();
  ScopedModalServices(const ScopedModalServices&) = delete;
  ScopedModalServices& operator=(const ScopedModalServices&) = delete;

 private:
  ModalServices* m_previous;
};

// The shell's "open": a web address opens in the desktop's browser; anything else is started
// as a program with the parameters split as a command line ("a b" "c" gives two arguments).
// Like the platform call, a result above 32 means success.
INT_PTR ShellExecuteA(QWidget* owner, const char* verb, const char* file, const char* parameters, const char* directory,
                      int showCommand);

// Splits a command line into arguments; double quotes group blanks into one argument.
QStringList SplitCommandLine(const QString& parameters);
