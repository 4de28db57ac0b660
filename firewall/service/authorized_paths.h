#pragma once
// The paths of the enabled authorized applications, as a verdict compares them with the
// executable of a process. A path is kept as the user chose it and compared after its
// symbolic links are followed: the file dialog gives /usr/bin/python3, a link, while the
// kernel names a python process's executable by the link's target.
#include <sys/stat.h>

#include <string>
#include <string_view>
#include <vector>

class AuthorizedPaths {
 public:
  AuthorizedPaths() = default;
  // Resolves each path now. A path that is not absolute never matches.
  explicit AuthorizedPaths(const std::vector<std::string>& paths);
  bool Empty() const { return m_entries.empty(); }

  // Whether `executable`, as /proc/PID/exe names it, is one of the paths. A path whose
  // links were changed since they were followed (a link retargeted, the file made later) is
  // resolved again first, so that costs one lstat per link on the way. An executable whose
  // file was deleted or replaced (" (deleted)") never matches.
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
  struct Entry {
    std::string stored;
    std::string resolved;  // as stored while it cannot be followed
    std::vector<Step> steps;
  };

  static Seen Look(const char* name);
  static void Resolve(Entry& entry);
  static bool StillResolved(const Entry& entry);

  std::vector<Entry> m_entries;
};
