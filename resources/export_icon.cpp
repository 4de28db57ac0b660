// Writes the application icon (icon 128) as the PNG files a desktop finds by name:
// DIR/16x16/apps/brenvo.png, 32x32 and 48x48, for installing under share/icons/hicolor.
// usage: brenvo-export-icon DIR
#include <QDir>
#include <QGuiApplication>
#include <QIcon>
#include <QPixmap>
#include <cstdio>

#include "resources/images.h"
#include "resources/resource.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s DIR\n", argv[0]);
    return 2;
  }
  qputenv("QT_QPA_PLATFORM", "offscreen");
  QGuiApplication application(argc, argv);
  const QIcon icon = LoadIconResource(IDR_MAINFRAME);
  for (const int size : {16, 32, 48}) {
    const QString folder = QStringLiteral("%1/%2x%2/apps").arg(QString::fromLocal8Bit(argv[1])).arg(size);
    if (!QDir().mkpath(folder) || !icon.pixmap(size).save(folder + "/brenvo.png")) {
      std::fprintf(stderr, "%s: cannot write %s/brenvo.png\n", argv[0], qPrintable(folder));
      return 1;
    }
  }
  return 0;
}
