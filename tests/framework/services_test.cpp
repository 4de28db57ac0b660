#include <gtest/gtest.h>

#include "framework/file_dialog.h"
#include "framework/modal_services.h"
#include "resources/resource.h"
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

}  // namespace
