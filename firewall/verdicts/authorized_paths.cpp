#include "firewall/verdicts/authorized_paths.h"

#include <fcntl.h>
#include <limits.h>
#include <unistd.h>

#include <algorithm>

namespace {

// As many links as the kernel follows before it gives up (ELOOP).
constexpr int kMostLinks = 40;

}  // namespace

AuthorizedPaths::AuthorizedPaths(std::string root) : m_root(std::move(root)) {}

AuthorizedPaths::AuthorizedPaths(const std::vector<std::string>& paths, std::string root) : m_root(std::move(root)) {
  for (const std::string& path : paths) Add(path);
}

std::string SystemRoot(const std::string& proc) {
  // Looking through another process's root takes the right to trace it, which a service
  // without CAP_SYS_PTRACE, or a container's, may not have.
  const std::string root = proc + "/1/root";
  const int fd = open(root.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return "";
  close(fd);
  return root;
}

bool AuthorizedPaths::Seen::operator==(const Seen& other) const {
  return exists == other.exists && link == other.link && file == other.file && changed.tv_sec == other.changed.tv_sec &&
         changed.tv_nsec == other.changed.tv_nsec;
}

AuthorizedPaths::Seen AuthorizedPaths::Look(const char* name) {
  struct stat status;
  if (lstat(name, &status) != 0) return {};
  return {true, S_ISLNK(status.st_mode), {status.st_dev, status.st_ino}, status.st_ctim};
}

void AuthorizedPaths::Add(const std::string& path) {
  if (path.empty() || path.front() != '/') return;
  Remove(path);
  Followed followed{path, {}};
  Follow(followed);
  m_paths.push_back(std::move(followed));
}

void AuthorizedPaths::Remove(const std::string& path) {
  std::erase_if(m_paths, [&](const Followed& followed) { return followed.stored == path; });
}

void AuthorizedPaths::Follow(Followed& path) const {
  // The names of the chain of links, each as lstat sees it: retargeting a link (ln -sf
  // makes a new one), replacing the file or changing a folder's link on the way shows in
  // one of them. A link's absolute target is taken in the same root as the path.
  path.steps.clear();
  std::string name = m_root + path.stored;
  for (int link = 0; link <= kMostLinks; ++link) {
    path.steps.push_back({name, Look(name.c_str())});
    if (!path.steps.back().seen.link) break;
    char target[PATH_MAX];
    const ssize_t size = readlink(name.c_str(), target, sizeof target);
    if (size <= 0 || static_cast<std::size_t>(size) >= sizeof target) break;
    const std::string_view next(target, static_cast<std::size_t>(size));
    name = next.front() == '/' ? m_root + std::string(next) : name.substr(0, name.rfind('/') + 1).append(next);
  }
}

bool AuthorizedPaths::StillFollowed(const Followed& path) {
  return std::all_of(path.steps.begin(), path.steps.end(),
                     [](const Step& step) { return Look(step.name.c_str()) == step.seen; });
}

bool AuthorizedPaths::Matches(const FileId& executable) {
  for (Followed& path : m_paths) {
    if (!StillFollowed(path)) Follow(path);
    const Seen& file = path.steps.back().seen;
    if (file.exists && !file.link && file.file == executable) return true;
  }
  return false;
}
