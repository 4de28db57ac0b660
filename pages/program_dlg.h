#pragma once

#include <QString>
#include <string>

#include "controls/x_list_ctrl.h"
#include "firewall/com/status.h"
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
  // Authorizes the program at `path`, enabled, as `name`, through the main window's firewall
  // (over the service, polkit decides), and shows its row at once. Where the firewall refuses
  // it, the list is listed again and the failure says why. "Add Program" and the notice of a
  // blocked program both add this way.
  Status AddProgram(CFirewall& mainWindow, const QString& path, const QString& name);
  // Empties the list and lists the firewall's programs again.
  void RebuildList(CFirewall& mainWindow);

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

  void OnBrowse();
  void OnAddProgram();
  void OnListClick(NMHDR* header, LRESULT* result);
};
