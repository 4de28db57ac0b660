// Writes pictures of a check-box list in a page: empty, then with checked and unchecked
// rows, blue "Remove" cells and a selection. Usage: controls_list_demo DIRECTORY
#include <QApplication>
#include <QDir>
#include <cstdio>

#include "tests/controls/list_page.h"

int main(int argc, char** argv) {
  QApplication application(argc, argv);
  if (argc < 2) {
    std::fprintf(stderr, "usage: %s DIRECTORY\n", argv[0]);
    return 2;
  }
  const QDir directory(QString::fromLocal8Bit(argv[1]));

  ListPage page;
  if (!page.Activate()) return 1;
  page.grab().save(directory.filePath(QStringLiteral("list_empty.png")));

  page.AddRow(true, "Mail client", "/usr/bin/mail-client");
  page.AddRow(false, "Web browser", "/usr/lib/browser/browser");
  page.AddRow(true, "Chat", "/opt/chat/bin/chat");
  page.AddRow(false, "Backup agent", "/usr/sbin/backup-agent");
  page.ClickCell(1, 1);
  page.grab().save(directory.filePath(QStringLiteral("list_filled.png")));
  std::printf("wrote list_empty.png and list_filled.png to %s\n", argv[1]);
  return 0;
}
