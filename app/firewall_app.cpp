#include "app/firewall_app.h"

#include "app/firewall_dlg.h"
#include "app/skin/skin.h"

BOOL CfirewallApp::InitInstance() {
  InitCommonControls();
  CWinApp::InitInstance();
  SetRegistryKey("Local AppWizard-Generated Applications");

  // The skin's results are not looked at: without it the windows keep the plain look.
  SkinInitialize(AfxGetInstanceHandle(), "SCRIBBLE", nullptr, nullptr);
  SkinLoadFromResource(AfxGetInstanceHandle(), "DEFAULT", "SKINMAGIC");
  SkinSelectWindowSkin("Dialog");

  {
    CfirewallDlg dialog;
    m_pMainWnd = &dialog;
    dialog.DoModal();
    m_pMainWnd = nullptr;
  }
  return 0;
}

int CfirewallApp::ExitInstance() {
  SkinShutdown();
  return CWinApp::ExitInstance();
}
