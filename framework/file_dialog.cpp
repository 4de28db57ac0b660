#include "framework/file_dialog.h"

#include "framework/modal_services.h"
#include "resources/resource.h"

QString ConvertFileFilter(const QString& filter) {
  const QStringList parts = filter.split(u'|', Qt::SkipEmptyParts);
  QStringList entries;
  for (qsizetype i = 0; i + 1 < parts.size(); i += 2) {
    // "*.*" means every file on the platform the filter was written for.
    QString patterns = parts[i + 1];
    patterns.replace(QStringLiteral("*.*"), QStringLiteral("*"));
    patterns.replace(u';', u' ');
    entries << QStringLiteral("%1 (%2)").arg(parts[i], patterns);
  }
  return entries.join(QStringLiteral(";;"));
}

CFileDialog::CFileDialog(DWORD flags, const char* filter, QWidget* parent)
    : m_flags(flags), m_filter(ConvertFileFilter(QString::fromUtf8(filter ? filter : ""))), m_parent(parent) {}

INT_PTR CFileDialog::DoModal() {
  const auto files = Services().OpenFileDialog(m_parent, m_filter, (m_flags & OFN_ALLOWMULTISELECT) != 0);
  if (!files || files->isEmpty()) return IDCANCEL;
  m_pathName = files->first();
  return IDOK;
}
