#pragma once

#include <QString>
#include <memory>

#include "firewall/com/status.h"
#include "firewall/firewall.h"
#include "framework/controls.h"
#include "framework/dialog.h"

class BlockedWatch;
class CBannerDlg;
class CBlockedNoticeDlg;
class CPortDlg;
class CProgramDlg;
class CSnifferDlg;
class CTabDialog;

// The main window: the tabs with their three pages, the firewall's On/Off buttons, About,
// Forum and Exit, and the banner. Every firewall operation runs on this object.
class CfirewallDlg : public CEscapeProofDialog, public CFirewall {
 public:
  explicit CfirewallDlg(QWidget* parent = nullptr);
  ~CfirewallDlg() override;

  static constexpr const char* kForumPage = "https://brenvo.example/newbb+index.cat+2.htm";

  HICON m_hIcon;
  CTabCtrl m_tab;
  CTabDialog* m_pPageHost = nullptr;
  CPortDlg* m_pPortPage = nullptr;
  CProgramDlg* m_pProgramPage = nullptr;
  CStatic m_pageFrame;
  CStatic m_bannerFrame;
  CTabDialog* m_pBannerHost = nullptr;
  CBannerDlg* m_pBanner = nullptr;
  CSnifferDlg* m_pTrafficPage = nullptr;
  // Made at the start where the run has a source of blocks; else nullptr.
  CBlockedNoticeDlg* m_pBlockedNotice = nullptr;

 protected:
  void DoDataExchange(CDataExchange* pDX) override;
  BOOL OnInitDialog() override;
  const MessageMap* GetMessageMap() const override;

  // The window's part of the firewall operations.
  void ShowFirewallUnavailable() override;
  // Both end the run rather than the process, so that the windows close, and the traffic
  // page's capture thread stops, before anything it uses is destroyed.
  void EndMainDialog(int result) override;
  void ExitProcess(int status) override;
  IProgramRowSink* ProgramRows() override;
  IPortRowSink* PortRows() override;

 private:
  BOOL CreatePageHosts();
  BOOL CreatePages();
  BOOL SetupBanner();
  BOOL CreateBanner();
  void ShowFirewallState();
  // Starts the notices of blocked programs; without them the window works on.
  void WatchBlockedPrograms();
  Status UnblockProgram(const QString& path, const QString& name);

  void OnSysCommand(UINT id, LPARAM lParam);
  void OnPaint();
  HICON OnQueryDragIcon();
  void OnTabSelChange(NMHDR* header, LRESULT* result);
  void OnFirewallOn();
  void OnFirewallOff();
  void OnAbout();
  void OnForum();

  std::unique_ptr<BlockedWatch> m_pBlockedWatch;
};
