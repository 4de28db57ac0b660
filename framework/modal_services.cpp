#include "framework/modal_services.h"

#include <QDesktopServices>
#include <QFileDialog>
#include <QMessageBox>
#include <QProcess>
#include <QUrl>

#include "resources/resource.h"

namespace {

class DesktopServices final : public ModalServices {
 public:
  int MessageBox(QWidget* owner, const QString& text, const QString& caption, UINT type) override {
    QMessageBox box(owner);
    box.setWindowTitle(caption);
    box.setText(text);
    switch (type & MB_ICONMASK) {
      case MB_ICONERROR: box.setIcon(QMessageBox::Critical); break;
      case MB_ICONWARNING: box.setIcon(QMessageBox::Warning); break;
      case MB_ICONINFORMATION: box.setIcon(QMessageBox::Information); break;
      default: break;
    }
    box.setStandardButtons(QMessageBox::Ok);
    box.exec();
    return IDOK;
  }

  std::optional<QStringList> OpenFileDialog(QWidget* owner, const QString& filter, bool allowMultiple) override {
    QFileDialog dialog(owner, QString(), QString(), filter);
    dialog.setFileMode(allowMultiple ? QFileDialog::ExistingFiles : QFileDialog::ExistingFile);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    if (dialog.exec() != QDialog::Accepted) return std::nullopt;
    return dialog.selectedFiles();
  }

  bool OpenUrl(const QString& url) override { return QDesktopServices::openUrl(QUrl(url)); }

  bool StartProgram(const QString& program, const QStringList& arguments) override {
    return QProcess::startDetached(program, arguments);
  }
};

ModalServices* g_services = nullptr;

ModalServices& DefaultServices() {
  static DesktopServices services;
  return services;
}

}  // namespace

ModalServices& Services() { return g_services ? *g_services : DefaultServices(); }

ScopedModalServices::ScopedModalServices(ModalServices& replacement) : m_previous(g_services) {
  g_services = &replacement;
}

ScopedModalServices::~ScopedModalServices() { g_services = m_previous; }

QStringList SplitCommandLine(const QString& parameters) {
  QStringList arguments;
  QString current;
  bool quoted = false;
  bool pending = false;
  for (QChar c : parameters) {
    if (c == u'"') {
      quoted = !quoted;
      pending = true;
    } else if (c.isSpace() && !quoted) {
      if (pending) arguments << current;
      current.clear();
      pending = false;
    } else {
      current += c;
      pending = true;
    }
  }
  if (pending) arguments << current;
  return arguments;
}

INT_PTR ShellExecuteA(QWidget*, const char* verb, const char* file, const char* parameters, const char*, int) {
  constexpr INT_PTR kSuccess = 42;
  constexpr INT_PTR kFileNotFound = 2;
  constexpr INT_PTR kNoAssociation = 31;
  if (verb && qstrcmp(verb, "open") != 0) return kNoAssociation;
  const QString target = QString::fromUtf8(file ? file : "");
  const QUrl url(target, QUrl::StrictMode);
  const bool isWebAddress = url.isValid() && (url.scheme() == u"http" || url.scheme() == u"https");
  const bool ok =
      isWebAddress ? Services().OpenUrl(target)
                   : Services().StartProgram(target, SplitCommandLine(QString::fromUtf8(parameters ? parameters : "")));
  return ok ? kSuccess : kFileNotFound;
}
