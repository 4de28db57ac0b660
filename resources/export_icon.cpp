// Writes the application icon (icon 128) as the PNG files a desktop finds by name:
// DIR/16x16/apps/brenvo.png and so on up to 256x256, for installing under
// share/icons/hicolor.
// usage: brenvo-export-icon DIR
#include <QDir>
#include <QImage>
#include <cstdio>

#include "resources/images.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s DIR\n", argv[0]);
    return 2;
  }
  for (const int size : {16, 24, 32, 48, 64, 128, 256}) {
    const QString folder = QStringLiteral("%1/%2x%2/apps").arg(QString::fromLocal8Bit(argv[1])).arg(size);
    if (!QDir().mkpath(folder) || !ApplicationIconImage(size).save(folder + "/brenvo.png")) {
      std::fprintf(stderr, "%s: cannot write %s/brenvo.png\n", argv[0], qPrintable(folder));
      return 1;
    }
  }
  return 0;
}
