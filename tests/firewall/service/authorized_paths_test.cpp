// Authorized paths compared with executables as the kernel names them: through links,
// after links change, never for a replaced file.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "firewall/service/authorized_paths.h"
#include "tests/firewall/temp_dir.h"

namespace {

namespace fs = std::filesystem;

class AuthorizedPathsTest : public ::testing::Test {
 protected:
  // A file in the test's folder, made with its folders; its canonical path.
  std::string Make(const std::string& name) {
    const std::string path = m_dir.File(name);
    fs::create_directories(fs::path(path).parent_path());
    std::ofstream(path) << "#!\n";
    return fs::canonical(path);
  }
  std::string Link(const std::string& name, const std::string& target) {
    const std::string path = m_dir.File(name);
    fs::create_directories(fs::path(path).parent_path());
    fs::create_symlink(target, path + ".new");
    fs::rename(path + ".new", path);  // as ln -sf and update-alternatives replace a link
    return path;
  }

  TempDir m_dir;
};

TEST_F(AuthorizedPathsTest, APathMatchesTheFileItLeadsToThroughAnyLinks) {
  const std::string python = Make("usr/bin/python3.11");
  const std::string other = Make("usr/bin/perl");
  // A relative link, a link to a link, a folder reached through a link.
  Link("usr/bin/python3", "python3.11");
  Link("etc/alternatives/python", m_dir.File("usr/bin/python3"));
  Link("bin", "usr/bin");
  for (const std::string& stored :
       {m_dir.File("usr/bin/python3"), m_dir.File("etc/alternatives/python"), m_dir.File("bin/python3.11"), python}) {
    AuthorizedPaths paths({stored});
    EXPECT_TRUE(paths.Matches(python)) << stored;
    EXPECT_FALSE(paths.Matches(other)) << stored;
  }
  // The kernel's name for a program whose file was deleted or replaced, even where a file of
  // that very name is authorized.
  const std::string named = Make("usr/bin/tool (deleted)");
  EXPECT_FALSE(AuthorizedPaths({named}).Matches(named));
  EXPECT_FALSE(AuthorizedPaths().Matches(python));
  // One more path, or one less, plain file or link alike.
  AuthorizedPaths changing({other});
  changing.Add(m_dir.File("usr/bin/python3"));
  EXPECT_TRUE(changing.Matches(python) && changing.Matches(other));
  changing.Remove(other);
  EXPECT_FALSE(changing.Matches(other));
  changing.Remove(m_dir.File("usr/bin/python3"));
  EXPECT_FALSE(changing.Matches(python));
  EXPECT_TRUE(changing.Empty());
  EXPECT_FALSE(AuthorizedPaths({python, other}).Matches(""));
  // A path that is not absolute names no executable the kernel would report.
  fs::current_path(m_dir.File("usr"));
  EXPECT_FALSE(AuthorizedPaths({"bin/python3.11"}).Matches(python));
  EXPECT_TRUE(AuthorizedPaths({"bin/python3.11"}).Empty());
}

TEST_F(AuthorizedPathsTest, ALinkChangedAfterTheListIsFollowedAgain) {
  const std::string v311 = Make("usr/bin/python3.11");
  const std::string v312 = Make("usr/bin/python3.12");
  Link("usr/bin/python3", "python3.11");
  const std::string alternative = Link("etc/alternatives/python", m_dir.File("usr/bin/python3"));
  AuthorizedPaths paths({alternative});
  ASSERT_TRUE(paths.Matches(v311));

  // The last link of the chain changes: the first one, the stored path, does not.
  Link("usr/bin/python3", "python3.12");
  EXPECT_FALSE(paths.Matches(v311));
  EXPECT_TRUE(paths.Matches(v312));

  // A link that leads nowhere yet is followed once its target appears; a path that cannot
  // be followed (a folder the service does not see) is taken as it is.
  const std::string link = Link("bin/tool", "../opt/tool");
  AuthorizedPaths later({link});
  const std::string tool = m_dir.File("opt/tool");
  EXPECT_FALSE(later.Matches(tool));
  EXPECT_EQ(Make("opt/tool"), tool);
  EXPECT_TRUE(later.Matches(tool));
  EXPECT_TRUE(AuthorizedPaths({"/home/someone/hidden/server"}).Matches("/home/someone/hidden/server"));
}

}  // namespace
