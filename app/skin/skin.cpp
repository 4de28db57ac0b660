#include "app/skin/skin.h"

#include <QApplication>
#include <QRegularExpression>
#include <QString>

#include "resources/custom_resource.h"

namespace {

struct SkinState {
  bool initialized = false;
  QString skin;
};

SkinState& State() {
  static SkinState state;
  return state;
}

// The text of the section "[name]" up to the next section header.
QString Section(const QString& skin, const QString& name) {
  const QString header = u'[' + name + u']';
  qsizetype start = skin.indexOf(header);
  if (start < 0) return {};
  start += header.size();
  const qsizetype end =
      skin.indexOf(QRegularExpression(QStringLiteral("^\\["), QRegularExpression::MultilineOption), start);
  return skin.mid(start, end < 0 ? -1 : end - start).trimmed();
}

}  // namespace

BOOL SkinInitialize(HINSTANCE module, const char* client, const void*, const void*) {
  if (!module || !client) return 0;
  State().initialized = true;
  return 1;
}

BOOL SkinLoadFromResource(HINSTANCE module, const char* name, const char* type) {
  if (!State().initialized || !module) return 0;
  State().skin = QString::fromUtf8(LoadCustomResource(name, type));
  return State().skin.isEmpty() ? 0 : 1;
}

BOOL SkinSelectWindowSkin(const char* section) {
  if (!State().initialized || !qApp) return 0;
  const QString sheet = Section(State().skin, QString::fromUtf8(section));
  if (sheet.isEmpty()) return 0;
  qApp->setStyleSheet(sheet);
  return 1;
}

BOOL SkinShutdown() {
  if (!State().initialized) return 0;
  if (qApp) qApp->setStyleSheet(QString());
  State() = SkinState{};
  return 1;
}
