#pragma once
// The paths of the enabled authorized applications, as a verdict compares them with the
// executable of a process. A path is kept as the user chose it and compared after its
// symbolic links are followed: the file dialog gives /usr/bin/python3, a link, while the
// kernel names a python process's executable by the link's target.
#include <sys/stat.h>

#include <functional>
#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

class AuthorizedPaths {
 public:
  AuthorizedPaths() = default;
  // Follows each path now. A path that is not absolute is left out: it never matches.
  explicit AuthorizedPaths(const std::vector<std::string>& paths);
  void Add(const std::string& path);
  void Remove(const std::string& path);
  bool Empty() const { return m_files.empty() && m_followed.empty(); }

  // Whether `executable`, as /proc/PID/exe names it, is one of the paths. A path that led
  // through links (or nowhere) is looked at again first, one lstat per name on its way, and
  // followed anew where one of them changed: a link retargeted, a file made later. A path
  // that named a file of its own is looked up alone, whatever the number of paths; should
  // that file become a link, it is followed from the next change of the list. An executable
  // whose file was deleted or replaced (" (deleted)") never matches.
  bool Matches(std::string_view executable);

 private:
  // What lstat says of a name.
  struct Seen {
    bool exists = false;
    dev_t device = 0;
    ino_t inode = 0;
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
    std::string resolved;  // as stored while it cannot be followed
    std::vector<Step> steps;
  };
  struct Hash {
    using is_transparent = void;
    std::size_t operator()(std::string_view text) const { return std::hash<std::string_view>{}(text); }
  };

  static Seen Look(const char* name);
  static void Follow(Followed& path);
  static bool StillFollowed(const Followed& path);

  std::unordered_set<std::string, Hash, std::equal_to<>> m_files;  // paths that are their file
  std::vector<Followed> m_followed;
};
