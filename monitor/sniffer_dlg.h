#pragma once

#include "framework/controls.h"
#include "framework/dialog.h"
#include "framework/image_list.h"
#include "monitor/packet_handoff.h"
#include "monitor/packet_tree_model.h"
#include "monitor/packet_tree_view.h"
#include "monitor/traffic_monitor.h"

#include <QGroupBox>

// The "View Traffic" page: one tree of the decoded TCP segments. The page owns the whole
// traffic monitor (its engine part lives in CTrafficMonitor), which starts with the page,
// whether or not the page is ever shown. The capture thread hands its segments to the
// page's hand-off, never to the page itself, and the page stops the capture first thing
// in its destructor, while the hand-off and the model still live.
class CSnifferDlg : public CEscapeProofDialog, public CTrafficMonitor {
 public:
  // "Logger.txt" goes to `logDirectory`, the current directory unless a test says otherwise.
  explicit CSnifferDlg(QWidget* parent, const std::string& logDirectory = ".");
  ~CSnifferDlg() override;

  // The updater lies beside Brenvo's own executable and gets these arguments.
  static constexpr const char* kUpdater = "UpdateApp.exe";
  static constexpr const char* kUpdaterArguments = "\"Brenvo\" \"41\" \"4.0.3\"";
  static constexpr int kSelectorBand = 100;

  // Makes every page built from now on keep at most `limit` segments in its tree; see
  // PacketTreeModel. "Logger.txt" keeps every line.
  static void SetMaxSegments(std::size_t limit);

  void LayoutControls();
  // The close request: stops the capture, then the default close handling.
  void StopCapture();

  CImageList m_imageList;
  CComboBox m_interfaceCombo;
  QGroupBox m_interfaceGroup;
  PacketTreeView m_tree;

 protected:
  void DoDataExchange(CDataExchange* pDX) override;
  BOOL OnInitDialog() override;
  const MessageMap* GetMessageMap() const override;
  std::string SelectedInterface() const override;

 private:
  void StartUpdater();
  void SetTreeFont();

  void OnSysCommand(UINT id, LPARAM lParam);
  void OnPaint();
  HICON OnQueryDragIcon();
  void OnSize(UINT type, int cx, int cy);

  static std::size_t s_maxSegments;

  PacketTreeModel m_model{s_maxSegments};
  PacketHandoff m_handoff{m_model};
};
