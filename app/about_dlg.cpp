#include "app/about_dlg.h"

#include <QLabel>

#include "firewall/service/service_registration.h"
#include "resources/resource.h"

CAboutDlg::CAboutDlg() : CDialog(IDD_ABOUTBOX, nullptr) {}

BOOL CAboutDlg::OnInitDialog() {
  CDialog::OnInitDialog();
  // Without a backend of the service's own choosing, nothing reaches the kernel.
  const std::optional<BackendChoice> backend = RegisteredBackend();
  if (auto* rules = qobject_cast<QLabel*>(GetDlgItem(IDC_ABOUT_RULES)))
    rules->setText(QString::fromStdString(RulesText(backend ? backend->backend : FirewallBackend::kStore)));
  return 1;
}
