#include "monitor/log_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <csignal>
#include <utility>

LogFile::~LogFile() {
  if (m_fd >= 0) ::close(m_fd);
}

LogFile::LogFile(LogFile&& other) noexcept
    : m_fd(std::exchange(other.m_fd, -1)),
      m_end(std::exchange(other.m_end, 0)),
      m_inMemory(std::exchange(other.m_inMemory, false)),
      m_memory(std::move(other.m_memory)) {}

LogFile& LogFile::operator=(LogFile&& other) noexcept {
  if (this != &other) {
    if (m_fd >= 0) ::close(m_fd);
    m_fd = std::exchange(other.m_fd, -1);
    m_end = std::exchange(other.m_end, 0);
    m_inMemory = std::exchange(other.m_inMemory, false);
    m_memory = std::move(other.m_memory);
  }
  return *this;
}

LogFile LogFile::Open(const std::string& path) {
  // A write past the process's file-size limit must fail with EFBIG and drop its line,
  // not end the whole program with SIGXFSZ.
  std::signal(SIGXFSZ, SIG_IGN);
  LogFile log;
  // O_NONBLOCK keeps a planted FIFO from blocking the open; it means nothing for the
  // regular file we accept. Truncation waits until we know what we opened.
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0644);
  if (fd < 0) return log;
  struct stat info;
  if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode) || ::ftruncate(fd, 0) != 0) {
    ::close(fd);
    return log;
  }
  log.m_fd = fd;
  return log;
}

LogFile LogFile::InMemory() {
  LogFile log;
  log.m_inMemory = true;
  return log;
}

bool LogFile::Write(std::string_view line) {
  if (m_inMemory) {
    m_memory += line;
    return true;
  }
  if (m_fd < 0) return false;
  const ssize_t written = ::pwrite(m_fd, line.data(), line.size(), m_end);
  if (written == static_cast<ssize_t>(line.size())) {
    m_end += written;
    return true;
  }
  // A full disk or a file-size limit took part of the line: cut the file back to the end
  // of the last whole line, where the next line will start.
  if (written > 0) {
    // Should the cut fail, the next line still starts there, over the part.
    [[maybe_unused]] const bool cut = ::ftruncate(m_fd, m_end) == 0;
  }
  return false;
}
