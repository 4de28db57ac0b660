#include "app/firewall_dlg.h"

#include <cstdio>

#include "app/about_dlg.h"
#include "app/banner_dlg.h"
#include "app/blocked_notice_dlg.h"
#include "app/blocked_watch.h"
#include "app/tab_dialog.h"
#include "firewall/com/com_runtime.h"
#include "framework/data_exchange.h"
#include "framework/dc.h"
#include "framework/menu.h"
#include "framework/modal_services.h"
#include "framework/sys_colors.h"
#include "framework/win_app.h"
#include "monitor/sniffer_dlg.h"
#include "pages/port_dlg.h"
#include "pages/program_dlg.h"
#include "resources/images.h"
#include "resources/resource.h"

namespace {

// The containers are placed by the screen position of their placeholders, less a fixed
// correction for the main window's frame and caption while it stands at the screen origin.
// Here the placeholders' client positions are used, with the frame's share already taken out.
constexpr QPoint kFrameAndCaption(4, 30);
constexpr QPoint kPageHostCorrection(5, 30);
constexpr QPoint kBannerHostCorrection(6, 32);

constexpr int kPageWidth = 505;
constexpr int kPageHeight = 230;

// The exit status of a run that could not open the firewall.
constexpr int kFirewallUnavailableStatus = 1;

void PlaceOverPlaceholder(CDialog* container, const QWidget& placeholder, QPoint correction) {
  const QPoint topLeft = placeholder.geometry().topLeft() + kFrameAndCaption - correction;
  container->SetWindowPos(topLeft.x(), topLeft.y(), 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_SHOWWINDOW);
}

}  // namespace

CfirewallDlg::CfirewallDlg(QWidget* parent)
    : CEscapeProofDialog(IDD_FIREWALL_DIALOG, parent), m_hIcon(AfxGetApp()->LoadIcon(IDR_MAINFRAME)) {}

CfirewallDlg::~CfirewallDlg() {
  // No block reaches the notice once the window goes.
  m_pBlockedWatch.reset();
  ReleaseFirewallProfile();
}

void CfirewallDlg::DoDataExchange(CDataExchange* pDX) {
  CEscapeProofDialog::DoDataExchange(pDX);
  DDX_Control(pDX, IDC_TAB, m_tab);
  DDX_Control(pDX, IDC_PAGE_FRAME, m_pageFrame);
  DDX_Control(pDX, IDC_BANNER_FRAME, m_bannerFrame);
}

const MessageMap* CfirewallDlg::GetMessageMap() const {
  static constexpr MessageMapEntry kEntries[] = {
      OnSysCommandMessage<&CfirewallDlg::OnSysCommand>(),
      OnMessage<&CfirewallDlg::OnPaint>(WM_PAINT),
      OnQueryDragIconMessage<&CfirewallDlg::OnQueryDragIcon>(),
      OnNotify<&CfirewallDlg::OnTabSelChange>(TCN_SELCHANGE, IDC_TAB),
      OnCommand<&CfirewallDlg::OnFirewallOn>(BN_CLICKED, IDC_FIREWALL_ON),
      OnCommand<&CfirewallDlg::OnFirewallOff>(BN_CLICKED, IDC_FIREWALL_OFF),
      OnCommand<&CfirewallDlg::OnAbout>(BN_CLICKED, IDOK),
      OnCommand<&CfirewallDlg::OnForum>(BN_CLICKED, IDC_FORUM),
  };
  static const MessageMap map{CEscapeProofDialog::GetMessageMap(), kEntries};
  return &map;
}

BOOL CfirewallDlg::OnInitDialog() {
  CEscapeProofDialog::OnInitDialog();

  if (CMenu* systemMenu = GetSystemMenu()) {
    const QString about = LoadStringResource(IDS_ABOUTBOX);
    if (!about.isEmpty()) {
      systemMenu->AppendMenu(MF_SEPARATOR);
      systemMenu->AppendMenu(MF_STRING, IDM_ABOUTBOX, about);
    }
  }
  SetIcon(m_hIcon, 1);
  SetIcon(m_hIcon, 0);

  m_tab.InsertItem(0, "Add/Remove Programs");
  m_tab.InsertItem(1, "View Ports");
  m_tab.InsertItem(2, "View Traffic");

  CreatePageHosts();
  CoInitialize(nullptr);
  InitFirewallProfile();
  ShowFirewallState();
  if (m_pProfile) {
    ListAuthorizedApps();
    ListOpenPorts();
    WatchBlockedPrograms();
  }
  return 1;
}

BOOL CfirewallDlg::CreatePageHosts() {
  m_pPageHost = new CTabDialog(IDD_PAGE_HOST, this);
  if (!m_pPageHost->Create(IDD_PAGE_HOST, this)) return 0;
  if (!CreatePages()) return 0;
  PlaceOverPlaceholder(m_pPageHost, m_pageFrame, kPageHostCorrection);
  m_pPageHost->LayoutPages();
  return SetupBanner();
}

BOOL CfirewallDlg::CreatePages() {
  m_pProgramPage = new CProgramDlg(m_pPageHost);
  if (!m_pProgramPage->Create(IDD_PROGRAM_PAGE, m_pPageHost)) return 0;
  m_pPageHost->AddPage(m_pProgramPage);

  m_pPortPage = new CPortDlg(m_pPageHost);
  if (!m_pPortPage->Create(IDD_PORT_PAGE, m_pPageHost)) return 0;
  m_pPageHost->AddPage(m_pPortPage);

  m_pTrafficPage = new CSnifferDlg(m_pPageHost);
  if (!m_pTrafficPage->Create(IDD_SNIFFER_PAGE, m_pPageHost)) return 0;
  m_pPageHost->AddPage(m_pTrafficPage);
  return 1;
}

BOOL CfirewallDlg::SetupBanner() {
  m_pBannerHost = new CTabDialog(IDD_BANNER_HOST, this);
  if (!m_pBannerHost->Create(IDD_BANNER_HOST, this)) return 0;
  if (!CreateBanner()) return 0;
  PlaceOverPlaceholder(m_pBannerHost, m_bannerFrame, kBannerHostCorrection);
  m_pBannerHost->LayoutBanners();
  return 1;
}

BOOL CfirewallDlg::CreateBanner() {
  m_pBanner = new CBannerDlg(m_pBannerHost);
  if (!m_pBanner->Create(IDD_BANNER, m_pBannerHost)) return 0;
  m_pBannerHost->AddPage(m_pBanner);
  return 1;
}

void CfirewallDlg::ShowFirewallState() {
  BOOL on = 0;
  QueryFirewallOn(&on);
  CheckRadioButton(IDC_FIREWALL_ON, IDC_FIREWALL_OFF, on == 1 ? IDC_FIREWALL_ON : IDC_FIREWALL_OFF);
}

void CfirewallDlg::WatchBlockedPrograms() {
  std::unique_ptr<BlockedSource> source = MakeBlockedSource();
  if (!source) return;
  m_pBlockedNotice = new CBlockedNoticeDlg(
      this, [this](const QString& path, const QString& name) { return UnblockProgram(path, name); });
  auto watch = std::make_unique<BlockedWatch>(
      std::move(source), m_pBlockedNotice,
      [notice = m_pBlockedNotice](const BlockedFlow& blocked) { notice->Notice(blocked); });
  if (const Status started = watch->Start(); !started) {
    std::fprintf(stderr, "brenvo: blocked programs will not be shown: %s\n", started.reason().c_str());
    return;
  }
  m_pBlockedWatch = std::move(watch);
}

Status CfirewallDlg::UnblockProgram(const QString& path, const QString& name) {
  if (!m_pProgramPage) return Failed("The programs page could not be made.");
  const Status added = m_pProgramPage->AddProgram(*this, path, name);
  // The program may have had an entry already (disabled, under another name), which the new
  // one replaced: listed again, the page shows the one entry the firewall holds.
  if (added) m_pProgramPage->RebuildList(*this);
  return added;
}

void CfirewallDlg::ShowFirewallUnavailable() {
  MessageBox(QStringLiteral("Brenvo works only under Windows XP"), QStringLiteral("Error"), MB_ICONERROR | MB_OK);
}

void CfirewallDlg::EndMainDialog(int result) {
  // A firewall that never answered is a failure, as much as one whose manager could not be made.
  AfxPostQuitMessage(kFirewallUnavailableStatus);
  EndDialog(result);
}

void CfirewallDlg::ExitProcess(int status) { AfxPostQuitMessage(status); }

IProgramRowSink* CfirewallDlg::ProgramRows() { return m_pProgramPage; }

IPortRowSink* CfirewallDlg::PortRows() { return m_pPortPage; }

void CfirewallDlg::OnSysCommand(UINT id, LPARAM) {
  if ((id & 0xFFF0) == IDM_ABOUTBOX) {
    CAboutDlg about;
    about.DoModal();
  } else {
    Default();
  }
}

void CfirewallDlg::OnPaint() {
  if (!IsIconic()) {
    Default();
    return;
  }
  CPaintDC dc(this, GetPaintEvent());
  const CRect client = GetClientRect();
  dc.FillSolidRect(client, GetSysColor(COLOR_BTNFACE));
  const int x = (client.Width() - GetSystemMetrics(SM_CXICON) + 1) / 2;
  const int y = (client.Height() - GetSystemMetrics(SM_CYICON) + 1) / 2;
  dc.DrawIcon(x, y, m_hIcon);
}

HICON CfirewallDlg::OnQueryDragIcon() { return m_hIcon; }

void CfirewallDlg::OnTabSelChange(NMHDR*, LRESULT* result) {
  const int selected = m_tab.GetCurSel();
  CDialog* page = selected == 1   ? static_cast<CDialog*>(m_pPortPage)
                  : selected == 2 ? static_cast<CDialog*>(m_pTrafficPage)
                                  : static_cast<CDialog*>(m_pProgramPage);
  if (m_pPageHost) m_pPageHost->HideAllPages();
  // A page whose creation failed is left out; the others still show.
  if (page) page->SetWindowPos(0, 0, kPageWidth, kPageHeight, SWP_NOZORDER | SWP_SHOWWINDOW);
  *result = 0;
}

void CfirewallDlg::OnFirewallOn() {
  // After a refused switch the buttons show what the firewall really is, not what was asked.
  if (SwitchFirewallOn() != FW_OK) ShowFirewallState();
}

void CfirewallDlg::OnFirewallOff() {
  if (SwitchFirewallOff() != FW_OK) ShowFirewallState();
}

void CfirewallDlg::OnAbout() {
  CAboutDlg about;
  about.DoModal();
}

void CfirewallDlg::OnForum() { ShellExecuteA(nullptr, "open", kForumPage, nullptr, nullptr, SW_SHOWNORMAL); }
