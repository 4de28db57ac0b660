#include "firewall/service/authorized_paths.h"

#include <limits.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <memory>

namespace {

// As many links as the kernel follows before it gives up (ELOOP).
constexpr int kMostLinks = 40;

}  // namespace

AuthorizedPaths::AuthorizedPaths(const std::vector<std::string>& paths) {
  for (const std::string& path : paths) Add(path);
}

bool AuthorizedPaths::Seen::operator==(const Seen& other) const {
  return exists == other.exists && device == other.device && inode == other.inode &&
         changed.tv_sec == other.changed.tv_sec && changed.tv_nsec == other.changed.tv_nsec;
}

AuthorizedPaths::Seen AuthorizedPaths::Look(const char* name) {
  struct stat status;
  if (lstat(name, &status) != 0) return {};
  return {true, status.st_dev, status.st_ino, status.st_ctim};
}

void AuthorizedPaths::Add(const std::string& path) {
  if (path.empty() || path.front() != '/') return;
  Remove(path);
  Followed followed{path, "", {}};
  Follow(followed);
  // A path that is its own file, canonical and no link, cannot lead elsewhere.
  const bool file = followed.steps.size() == 1 && followed.steps[0].seen.exists && followed.resolved == path;
  if (file)
    m_files.insert(path);
  else
    m_followed.push_back(std::move(followed));
}

void AuthorizedPaths::Remove(const std::string& path) {
  m_files.erase(path);
  std::erase_if(m_followed, [&](const Followed& followed) { return followed.stored == path; });
}

void AuthorizedPaths::Follow(Followed& path) {
  // The names of the chain of links, each as lstat sees it: retargeting a link (ln -sf
  // makes a new one) or changing a folder's link on the way shows in one of them.
  path.steps.clear();
  std::string name = path.stored;
  for (int link = 0; link <= kMostLinks; ++link) {
    path.steps.push_back({name, Look(name.c_str())});
    char target[PATH_MAX];
    const ssize_t size = readlink(name.c_str(), target, sizeof target);
    if (size <= 0 || static_cast<std::size_t>(size) >= sizeof target) break;
    const std::string_view next(target, static_cast<std::size_t>(size));
    name = next.front() == '/' ? std::string(next) : name.substr(0, name.rfind('/') + 1).append(next);
  }
  // A path this process cannot follow (a folder hidden from the service, a file not there
  // yet) still names the program that runs from it.
  const std::unique_ptr<char, decltype(&std::free)> real(realpath(path.stored.c_str(), nullptr), &std::free);
  path.resolved = real ? real.get() : path.stored;
}

bool AuthorizedPaths::StillFollowed(const Followed& path) {
  return std::all_of(path.steps.begin(), path.steps.end(),
                     [](const Step& step) { return Look(step.name.c_str()) == step.seen; });
}

bool AuthorizedPaths::Matches(std::string_view executable) {
  if (executable.empty() || executable.ends_with(" (deleted)")) return false;
  if (m_files.find(executable) != m_files.end()) return true;
  for (Followed& path : m_followed) {
    if (!StillFollowed(path)) Follow(path);
    if (path.resolved == executable) return true;
  }
  return false;
}
