#include "firewall/service/authorized_paths.h"

#include <limits.h>
#include <unistd.h>

#include <cstdlib>
#include <memory>

namespace {

// As many links as the kernel follows before it gives up (ELOOP).
constexpr int kMostLinks = 40;

}  // namespace

AuthorizedPaths::AuthorizedPaths(const std::vector<std::string>& paths) {
  for (const std::string& path : paths) {
    if (path.empty() || path.front() != '/') continue;
    Entry entry{path, "", {}};
    Resolve(entry);
    m_entries.push_back(std::move(entry));
  }
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

void AuthorizedPaths::Resolve(Entry& entry) {
  // The names of the chain of links, each as lstat sees it: retargeting a link (ln -sf
  // makes a new one) or changing a directory link on the way shows in one of them.
  entry.steps.clear();
  std::string name = entry.stored;
  for (int link = 0; link <= kMostLinks; ++link) {
    entry.steps.push_back({name, Look(name.c_str())});
    char target[PATH_MAX];
    const ssize_t size = readlink(name.c_str(), target, sizeof target);
    if (size <= 0 || static_cast<std::size_t>(size) >= sizeof target) break;
    const std::string_view next(target, static_cast<std::size_t>(size));
    name = next.front() == '/' ? std::string(next) : name.substr(0, name.rfind('/') + 1).append(next);
  }
  // A path this process cannot follow (a folder hidden from the service, a file not there
  // yet) still names the program that runs from it.
  const std::unique_ptr<char, decltype(&std::free)> real(realpath(entry.stored.c_str(), nullptr), &std::free);
  entry.resolved = real ? real.get() : entry.stored;
}

bool AuthorizedPaths::StillResolved(const Entry& entry) {
  for (const Step& step : entry.steps)
    if (!(Look(step.name.c_str()) == step.seen)) return false;
  return true;
}

bool AuthorizedPaths::Matches(std::string_view executable) {
  if (executable.empty() || executable.ends_with(" (deleted)")) return false;
  for (Entry& entry : m_entries) {
    if (!StillResolved(entry)) Resolve(entry);
    if (entry.resolved == executable) return true;
  }
  return false;
}
