#pragma once

#include <QString>

#include "framework/win_types.h"

class QWidget;

inline constexpr DWORD OFN_ALLOWMULTISELECT = 0x00000200;

// The open-file dialog, with no default extension and no initial file name. The filter is written
// "description|patterns|...||".
class CFileDialog {
 public:
  CFileDialog(DWORD flags, const char* filter, QWidget* parent);

  INT_PTR DoModal();  // IDOK or IDCANCEL
  // The chosen file; the first one when several were chosen.
  QString GetPathName() const { return m_pathName; }

 private:
  DWORD m_flags;
  QString m_filter;
  QWidget* m_parent;
  QString m_pathName;
};

// "All Files (*.*)|*.*||" in the form the desktop's dialog takes: "All Files (*.*) (*)".
QString ConvertFileFilter(const QString& filter);
