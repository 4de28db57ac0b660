#include "framework/win_app.h"

#include <fcntl.h>
#include <unistd.h>

#include <QApplication>
#include <QDialog>
#include <QIcon>
#include <QSocketNotifier>
#include <QStyleFactory>
#include <cerrno>
#include <csignal>
#include <functional>
#include <map>
#include <memory>

#include "framework/dialog.h"
#include "resources/images.h"
#include "resources/resource.h"
#include "resources/version.h"

namespace {

CWinApp* g_app = nullptr;
int g_exitCode = 0;

// Ends the window that `top` names until it names none, or names the same one again.
void EndEach(const std::function<QWidget*()>& top, const std::function<void(QWidget*)>& end) {
  for (QWidget *window = top(), *previous = nullptr; window != nullptr && window != previous;
       previous = window, window = top())
    end(window);
}

void EndWindow(QWidget* window) {
  if (auto* dialog = dynamic_cast<CDialog*>(window))
    dialog->EndDialog(IDCANCEL);
  else if (auto* dialog = qobject_cast<QDialog*>(window))
    dialog->done(QDialog::Rejected);
  else
    window->close();
}

// SIGTERM and SIGINT, turned into an event of the GUI thread: the handler only writes a
// byte to a pipe that the event loop watches.
class EndSignals {
 public:
  EndSignals() {
    if (::pipe2(s_pipe, O_CLOEXEC | O_NONBLOCK) != 0) return;
    struct sigaction action = {};
    action.sa_handler = &OnSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (std::size_t i = 0; i < std::size(kSignals); ++i) {
      // A signal that whoever started us ignores (SIGINT of a background job) stays ignored.
      ::sigaction(kSignals[i], nullptr, &m_previous[i]);
      if (m_previous[i].sa_handler != SIG_IGN) ::sigaction(kSignals[i], &action, nullptr);
    }
    m_notifier = std::make_unique<QSocketNotifier>(s_pipe[0], QSocketNotifier::Read);
    QObject::connect(m_notifier.get(), &QSocketNotifier::activated, [] {
      char drained[16];
      while (::read(s_pipe[0], drained, sizeof drained) > 0) {
      }
      AfxPostQuitMessage(0);
    });
  }
  ~EndSignals() {
    if (!m_notifier) return;
    for (std::size_t i = 0; i < std::size(kSignals); ++i) ::sigaction(kSignals[i], &m_previous[i], nullptr);
    m_notifier.reset();
    ::close(s_pipe[0]);
    ::close(s_pipe[1]);
    s_pipe[0] = s_pipe[1] = -1;
  }
  EndSignals(const EndSignals&) = delete;
  EndSignals& operator=(const EndSignals&) = delete;

 private:
  static void OnSignal(int) {
    const int saved = errno;
    const char byte = 0;
    [[maybe_unused]] const ssize_t written = ::write(s_pipe[1], &byte, 1);
    errno = saved;
  }

  static constexpr int kSignals[] = {SIGTERM, SIGINT};
  static inline int s_pipe[2] = {-1, -1};
  struct sigaction m_previous[std::size(kSignals)] = {};
  std::unique_ptr<QSocketNotifier> m_notifier;
};

}  // namespace

CWinApp::CWinApp() { g_app = this; }

CWinApp::~CWinApp() {
  if (g_app == this) g_app = nullptr;
}

BOOL CWinApp::InitInstance() { return 1; }

int CWinApp::ExitInstance() { return g_exitCode; }

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
  g_exitCode = 0;
  const EndSignals endSignals;
  CWinApp* app = AfxGetApp();
  if (app->InitInstance()) QApplication::exec();
  return app->ExitInstance();
}

void AfxPostQuitMessage(int exitCode) {
  g_exitCode = exitCode;
  EndEach(&QApplication::activePopupWidget, [](QWidget* menu) { menu->close(); });
  // The innermost first, so that each modal loop returns into one that is already ending.
  EndEach(&QApplication::activeModalWidget, &EndWindow);
  if (g_app != nullptr && g_app->m_pMainWnd != nullptr) EndWindow(g_app->m_pMainWnd);
}
