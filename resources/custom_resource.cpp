#include "resources/custom_resource.h"

#include <QFile>

QByteArray LoadCustomResource(const char* name, const char* type) {
  // Custom resources live in the Qt resource system under ":/<type>/<name>".
  QFile file(QStringLiteral(":/%1/%2").arg(QLatin1String(type), QLatin1String(name)));
  if (!file.open(QIODevice::ReadOnly)) return {};
  return file.readAll();
}
