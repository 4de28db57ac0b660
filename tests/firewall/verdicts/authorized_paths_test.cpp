// Authorized paths compared with the files processes run: through links, after links
// change, never for a replaced file, in the root they are looked up in.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "firewall/verdicts/authorized_paths.h"
#include "tests/support/temp_dir.h"

namespace {

namespace fs = std::filesystem;

FileId Id(const std::string& path) {
  struct stat status;
  return stat(path.c_str(), &status) == 0 ? FileId{status.st_dev, status.st_ino} : FileId{};
}

// Paths looked up in this process's own root.
AuthorizedPaths Paths(const std::vector<std::string>& paths) { return AuthorizedPaths(paths, ""); }

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
    AuthorizedPaths paths = Paths({stored});
    EXPECT_TRUE(paths.Matches(Id(python))) << stored;
    EXPECT_FALSE(paths.Matches(Id(other))) << stored;
  }
  // The file, not its name: a hard link is the same program, a copy another one.
  ASSERT_EQ(link(python.c_str(), m_dir.File("usr/bin/hardlink").c_str()), 0);
  EXPECT_TRUE(Paths({m_dir.File("usr/bin/hardlink")}).Matches(Id(python)));
  fs::copy_file(python, m_dir.File("usr/bin/copy"));
  EXPECT_FALSE(Paths({python}).Matches(Id(m_dir.File("usr/bin/copy"))));
  EXPECT_FALSE(Paths({}).Matches(Id(python)));
  // One more path, or one less, plain file or link alike.
  AuthorizedPaths changing = Paths({other});
  changing.Add(m_dir.File("usr/bin/python3"));
  EXPECT_TRUE(changing.Matches(Id(python)) && changing.Matches(Id(other)));
  changing.Remove(other);
  EXPECT_FALSE(changing.Matches(Id(other)));
  changing.Remove(m_dir.File("usr/bin/python3"));
  EXPECT_FALSE(changing.Matches(Id(python)));
  EXPECT_TRUE(changing.Empty());
  EXPECT_FALSE(Paths({python, other}).Matches(FileId{}));
  // A path that is not absolute leads to no file the system knows it by.
  fs::current_path(m_dir.File("usr"));
  EXPECT_FALSE(Paths({"bin/python3.11"}).Matches(Id(python)));
  EXPECT_TRUE(Paths({"bin/python3.11"}).Empty());
}

TEST_F(AuthorizedPathsTest, ALinkChangedAfterTheListIsFollowedAgain) {
  const std::string v311 = Make("usr/bin/python3.11");
  const std::string v312 = Make("usr/bin/python3.12");
  Link("usr/bin/python3", "python3.11");
  const std::string alternative = Link("etc/alternatives/python", m_dir.File("usr/bin/python3"));
  AuthorizedPaths paths = Paths({alternative});
  ASSERT_TRUE(paths.Matches(Id(v311)));

  // The last link of the chain changes: the first one, the stored path, does not.
  Link("usr/bin/python3", "python3.12");
  EXPECT_FALSE(paths.Matches(Id(v311)));
  EXPECT_TRUE(paths.Matches(Id(v312)));

  // A link that leads nowhere yet is followed once its target appears.
  const std::string link = Link("bin/tool", "../opt/tool");
  AuthorizedPaths later = Paths({link});
  const std::string tool = m_dir.File("opt/tool");
  EXPECT_FALSE(later.Matches(Id(tool)));
  EXPECT_EQ(Make("opt/tool"), tool);
  const FileId first = Id(tool);
  EXPECT_TRUE(later.Matches(first));
  // Replaced, as an upgrade does: what still runs the old file (and so keeps it) is no
  // longer the program.
  std::ifstream running(tool);
  ASSERT_EQ(unlink(tool.c_str()), 0);
  Make("opt/tool");
  EXPECT_FALSE(later.Matches(first));
  EXPECT_TRUE(later.Matches(Id(tool)));
}

TEST_F(AuthorizedPathsTest, PathsAndAbsoluteLinksAreLookedUpInTheRootGiven) {
  // A root of its own, as pid 1's is seen through /proc/1/root, where /usr/bin/python3 is an
  // absolute link; the same names outside it lead to other files or nowhere.
  const std::string root = m_dir.File("root");
  const std::string inside = Make("root/usr/bin/python3.11");
  Link("root/etc/alternatives/python3", "/usr/bin/python3.11");
  Link("root/usr/bin/python3", "/etc/alternatives/python3");
  AuthorizedPaths paths({"/usr/bin/python3"}, root);
  EXPECT_TRUE(paths.Matches(Id(inside)));
  const std::string outside = Make("usr/bin/python3.11");
  EXPECT_FALSE(paths.Matches(Id(outside)));
}

}  // namespace
