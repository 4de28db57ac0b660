#pragma once
// The files of the enabled authorized applications, as a verdict compares them with the
// executable of a process. A program is the file itself (its device and inode), not a name:
// a copy elsewhere or a file mounted over the path in another mount namespace is another
// program, a hard link is the same one. A path is kept as the user chose it and followed
// through its symbolic links to its file, as the system's own processes see it: through
// pid 1's root where this process may look through it, so that this process's private
// mounts hide nothing.
#include <sys/stat.h>

#include <string>
#include <vector>

// Which file: what stat says of it.
struct FileId {
  dev_t device = 0;
  ino_t inode = 0;
  bool operator==(const FileId& other) const { return device == other.device && inode == other.inode; }
};

// The root of pid 1 under the process folder `proc`, when this process may look through it;
// "" (its own root) otherwise.
std::string SystemRoot(const std::string& proc = "/proc");

class AuthorizedPaths {
 public:
  // Paths are looked up in the root `root` stands for ("" for this process's own).
  explicit AuthorizedPaths(std::string root = SystemRoot());
  // Follows each path now. A path that is not absolute is left out: it never matches.
  AuthorizedPaths(const std::vector<std::string>& paths, std::string root = SystemRoot());
  void Add(const std::string& path);
  void Remove(const std::string& path);
  bool Empty() const { return m_paths.empty(); }

  // Whether `executable` is the file one of the paths leads to now. Each path's way is
  // looked at again first, one lstat per name on it, and followed anew where one of them
  // changed: a link retargeted, a file replaced or made later.
  bool Matches(const FileId& executable);

 private:
  // What lstat says of a name.
  struct Seen {
    bool exists = false;
    bool link = false;
    FileId file;
    timespec changed{};
    bool operator==(const Seen& other) const;
  };
  // One name on the way from the stored path to the file.
  struct Step {
    std::string name;
    Seen seen;
  };
  struct Followed {
    std::string stored;
    std::vector<Step> steps;  // the last one is the file, unless it leads nowhere
  };

  static Seen Look(const char* name);
  void Follow(Followed& path) const;
  static bool StillFollowed(const Followed& path);

  std::string m_root;
  std::vector<Followed> m_paths;
};
