#include "framework/win_app.h"

#include <QApplication>
#include <QIcon>
#include <QStyleFactory>
#include <map>

#include "resources/images.h"
#include "resources/version.h"

namespace {
CWinApp* g_app = nullptr;
}

CWinApp::CWinApp() { g_app = this; }

CWinApp::~CWinApp() {
  if (g_app == this) g_app = nullptr;
}

BOOL CWinApp::InitInstance() { return 1; }

int CWinApp::ExitInstance() { return 0; }

void CWinApp::SetRegistryKey(const char* key) { QCoreApplication::setOrganizationName(QString::fromUtf8(key)); }

HICON CWinApp::LoadIcon(int id) const {
  // Icons live as long as the process, like the module's resources they come from.
  static std::map<int, QIcon> icons;
  auto [it, inserted] = icons.try_emplace(id);
  if (inserted) it->second = LoadIconResource(id);
  return it->second.isNull() ? nullptr : &it->second;
}

CWinApp* AfxGetApp() { return g_app; }

HINSTANCE AfxGetInstanceHandle() {
  static const char module = 0;
  return &module;
}

void InitCommonControls() { QApplication::setStyle(QStyleFactory::create(QStringLiteral("Fusion"))); }

int AfxWinMain(int argc, char** argv) {
  QApplication application(argc, argv);
  QCoreApplication::setApplicationName(QString::fromUtf8(kVersion.productName));
  QCoreApplication::setApplicationVersion(QString::fromUtf8(kVersion.productVersion));
  CWinApp* app = AfxGetApp();
  if (app->InitInstance()) QApplication::exec();
  return app->ExitInstance();
}
