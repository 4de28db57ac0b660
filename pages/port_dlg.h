#pragma once

#include <QString>
#include <string>

#include "controls/x_list_ctrl.h"
#include "firewall/row_sinks.h"
#include "framework/dialog.h"

class CFirewall;

// The "View Ports" page: the open ports in a check-box list, a box to enable or disable each
// and a "Remove" cell to close it, and a port typed with its name and protocol to open. The
// firewall work is the main window's.
class CPortDlg : public CEscapeProofDialog, public IPortRowSink {
 public:
  explicit CPortDlg(QWidget* parent);
  ~CPortDlg() override;

  // Appends a row at m_nRows: the box (checked when enabled is 1), name, number, protocol,
  // "Remove".
  void AddPortRow(std::string name, std::string protocolText, std::string numberText, int enabled) override;

  QString m_strName;
  QString m_strPort;
  // The protocol chosen with the buttons: 1 TCP, 2 UDP.
  int m_nProtocol = 1;
  CXListCtrl m_list;
  // Rows appended since the list was last emptied: where the next row goes.
  int m_nRows = 0;

 protected:
  void DoDataExchange(CDataExchange* pDX) override;
  BOOL OnInitDialog() override;
  const MessageMap* GetMessageMap() const override;

 private:
  void SetupListColumns();
  // Empties the list and lists the firewall's ports again.
  void RebuildList(CFirewall& mainWindow);

  void OnTcp();
  void OnUdp();
  void OnAddPort();
  void OnListClick(NMHDR* header, LRESULT* result);
};
