#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QDir>
#include <QTemporaryDir>

#include "framework/file_dialog.h"
#include "framework/modal_services.h"
#include "resources/resource.h"
#include "tests/support/file_dialog_listing.h"
#include "tests/support/recording_services.h"

namespace {

TEST(CommandLines, SplitAtBlanksOutsideQuotes) {
  EXPECT_EQ(SplitCommandLine(QStringLiteral("\"Brenvo\" \"41\" \"4.0.3\"")), (QStringList{"Brenvo", "41", "4.0.3"}));
  EXPECT_EQ(SplitCommandLine(QStringLiteral("  a \"b c\"d  \"\" ")), (QStringList{"a", "b cd", ""}));
  EXPECT_TRUE(SplitCommandLine(QString()).isEmpty());
}

TEST(ShellExecute, OpensWebAddressesAndStartsPrograms) {
  ScopedRecordingServices services;
  EXPECT_GT(ShellExecuteA(nullptr, "open", "https://brenvo.example/x", nullptr, nullptr, SW_SHOWNORMAL), 32);
  EXPECT_GT(ShellExecuteA(nullptr, "open", "/opt/brenvo/UpdateApp.exe", "\"Brenvo\" \"41\" \"4.0.3\"", nullptr,
                          SW_SHOWNORMAL),
            32);
  EXPECT_EQ(services.urls, QStringList{"https://brenvo.example/x"});
  ASSERT_EQ(services.programs.size(), 1u);
  EXPECT_EQ(services.programs[0].first, QStringLiteral("/opt/brenvo/UpdateApp.exe"));
  EXPECT_EQ(services.programs[0].second, (QStringList{"Brenvo", "41", "4.0.3"}));

  services.startSucceeds = false;
  EXPECT_LE(ShellExecuteA(nullptr, "open", "/missing", nullptr, nullptr, SW_SHOWNORMAL), 32);
  EXPECT_LE(ShellExecuteA(nullptr, "print", "https://brenvo.example/", nullptr, nullptr, SW_SHOWNORMAL), 32);
  EXPECT_EQ(services.urls.size(), 1);
}

TEST(FileDialog, TakesTheFirstOfSeveralFilesAndKeepsNothingOnCancel) {
  EXPECT_EQ(ConvertFileFilter(QStringLiteral("All Files (*.*)|*.*||")), QStringLiteral("All Files (*.*) (*)"));

  ScopedRecordingServices services;
  services.fileReply = QStringList{"/usr/bin/ssh", "/usr/bin/scp"};
  CFileDialog dialog(OFN_ALLOWMULTISELECT, "All Files (*.*)|*.*||", nullptr);
  EXPECT_EQ(dialog.DoModal(), IDOK);
  EXPECT_EQ(dialog.GetPathName(), QStringLiteral("/usr/bin/ssh"));
  EXPECT_TRUE(services.multipleAllowed);

  services.fileReply.reset();
  CFileDialog cancelled(0, "All Files (*.*)|*.*||", nullptr);
  EXPECT_EQ(cancelled.DoModal(), IDCANCEL);
  EXPECT_TRUE(cancelled.GetPathName().isEmpty());
  EXPECT_FALSE(services.multipleAllowed);
}

// The files of a store in use, each with a read lock of this process on it as SQLite holds
// them. Listing their folder must leave every lock in place: any close of a descriptor of a
// file drops all of this process's locks on it.
TEST(FileDialog, ListsAFolderWithoutOpeningTheFilesInIt) {
  QTemporaryDir dir;
  ASSERT_TRUE(dir.isValid());
  const QStringList names{"firewall.db", "firewall.db-wal", "firewall.db-shm"};
  std::vector<int> files;
  for (const QString& name : names) {
    const int fd = open(dir.filePath(name).toUtf8().constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(write(fd, "SQLite format 3", 16), 16);
    flock lock{};
    lock.l_type = F_RDLCK;
    ASSERT_EQ(fcntl(fd, F_SETLK, &lock), 0);
    files.push_back(fd);
  }

  // The dialog opens in the working directory.
  const QString previousDir = QDir::currentPath();
  QDir::setCurrent(dir.path());
  bool listed = false;
  CancelFileDialogOnceListed(QDir(dir.path()), names, &listed);
  EXPECT_FALSE(Services().OpenFileDialog(nullptr, QStringLiteral("All Files (*.*) (*)"), false));
  QDir::setCurrent(previousDir);
  EXPECT_TRUE(listed);

  // Locks belong to the process, so another one tells which are still held.
  const pid_t child = fork();
  if (child == 0) {
    int dropped = 0;
    for (std::size_t i = 0; i < files.size(); ++i) {
      flock probe{};
      probe.l_type = F_WRLCK;
      if (fcntl(files[i], F_GETLK, &probe) != 0 || probe.l_type == F_UNLCK) dropped |= 1 << i;
    }
    _exit(dropped);
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  EXPECT_EQ(WEXITSTATUS(status), 0) << "bit i: the lock on " << names.join(", ").toStdString() << "[i] was dropped";
  for (const int fd : files) close(fd);
}

}  // namespace
