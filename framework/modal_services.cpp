#include "framework/modal_services.h"

#include <QDesktopServices>
#include <QFileDialog>
#include <QFileIconProvider>
#include <QMessageBox>
#include <QMimeDatabase>
#include <QProcess>
#include <QUrl>

#include "resources/resource.h"

namespace {

// Tells a listed file's type and icon from its name alone. The toolkit's own provider reads
// the start of every file it lists, and a process that holds the firewall store must never
// open that store's files: closing any descriptor of a file drops every POSIX lock the
// process holds on it, SQLite's included, and another process may then take the store for
// unused and delete its write-ahead log under this one.
class TypeByNameIconProvider final : public QFileIconProvider {
 public:
  using QFileIconProvider::icon;
  QIcon icon(const QFileInfo& info) const override {
    if (!info.isFile()) return QFileIconProvider::icon(info);
    const QMimeType type = TypeOf(info);
    return QIcon::fromTheme(type.iconName(), QIcon::fromTheme(type.genericIconName(), icon(File)));
  }
  QString type(const QFileInfo& info) const override {
    if (!info.isFile()) return QFileIconProvider::type(info);
    const QMimeType type = TypeOf(info);
    return type.comment().isEmpty() ? type.name() : type.comment();
  }

 private:
  static QMimeType TypeOf(const QFileInfo& info) {
    return QMimeDatabase().mimeTypeForFile(info.fileName(), QMimeDatabase::MatchExtension);
  }
};

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
    // Made first, the provider outlives the dialog and the thread that gathers its details.
    TypeByNameIconProvider icons;
    QFileDialog dialog(owner, QString(), QString(), filter);
    // A dialog of the desktop's own, run in this process, would read the files it lists.
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    dialog.setIconProvider(&icons);
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

}  // namespace

ModalServices& Services() { return g_services ? *g_services : DesktopModalServices(); }

ModalServices& DesktopModalServices() {
  static DesktopServices services;
  return services;
}

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
