#include "monitor/log_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

LogFile::~LogFile() {
  if (m_fd >= 0) ::close(m_fd);
}

bool LogFile::Open(const std::string& path) {
  // O_NONBLOCK keeps a planted FIFO from blocking the open; it means nothing for the
  // regular file we accept. Truncation waits until we know what we opened.
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0644);
  if (fd < 0) return false;
  struct stat info;
  if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode) || ::ftruncate(fd, 0) != 0) {
    ::close(fd);
    return false;
  }
  m_fd = fd;
  return true;
}

bool LogFile::Write(std::string_view line) const {
  if (m_fd < 0) return false;
  return ::write(m_fd, line.data(), line.size()) == static_cast<ssize_t>(line.size());
}
