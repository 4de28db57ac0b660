#include "app/about_dlg.h"

#include <QLabel>

#include "firewall/local_registration.h"
#include "resources/resource.h"

CAboutDlg::CAboutDlg() : CDialog(IDD_ABOUTBOX, nullptr) {}

BOOL CAboutDlg::OnInitDialog() {
  CDialog::OnInitDialog();
  // A firewall registered over a given enforcer, as tests do, counts as the store alone.
  const std::optional<BackendChoice> backend = RegisteredBackend();
  if (auto* rules = qobject_cast<QLabel*>(GetDlgItem(IDC_ABOUT_RULES)))
    rules->setText(QString::fromStdString(RulesText(backend ? backend->backend : FirewallBackend::kStore)));
  return 1;
}
