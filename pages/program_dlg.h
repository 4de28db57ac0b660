#pragma once

#include <QString>
#include <string>

#include "controls/x_list_ctrl.h"
#include "firewall/row_sinks.h"
#include "framework/dialog.h"

class CFirewall;

// The "Add/Remove Programs" page: the authorized programs in a check-box list, a box to
// enable or disable each and a "Remove" cell to remove it, and a program chosen with the
// file dialog and named to add. The firewall work is the main window's.
class CProgramDlg : public CEscapeProofDialog, public IProgramRowSink {
 public:
  explicit CProgramDlg(QWidget* parent);
  ~CProgramDlg() override;

  // Appends a row at m_nRows: the box (checked when enabled is 1), name, "Remove", path.
  void AddProgramRow(std::string name, std::string path, int enabled) override;

  CXListCtrl m_list;
  QString m_strPath;
  QString m_strName;
  // Rows appended since the list was last emptied: where the next row goes.
  int m_nRows = 0;

 protected:
  void DoDataExchange(CDataExchange* pDX) override;
  BOOL OnInitDialog() override;
  const MessageMap* GetMessageMap() const override;

 private:
  void SetupListColumns();
  // Empties the list and lists the firewall's programs again.
  void RebuildList(CFirewall& mainWindow);

  void OnBrowse();
  void OnAddProgram();
  void OnListClick(NMHDR* header, LRESULT* result);
};
