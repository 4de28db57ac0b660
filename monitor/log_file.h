#pragma once

#include <string>
#include <string_view>

// "Logger.txt": opened once, emptied, and written one line per write() call with no
// buffering of our own, so each line reaches the system at once.
class LogFile {
 public:
  LogFile() = default;
  ~LogFile();
  LogFile(const LogFile&) = delete;
  LogFile& operator=(const LogFile&) = delete;

  // Creates or empties the file. A symbolic link, or anything but a regular file, at
  // `path` is left untouched and the file stays closed: a privileged capture must not
  // truncate whatever a planted link points at.
  bool Open(const std::string& path);
  bool IsOpen() const { return m_fd >= 0; }
  // Writes all of `line` with one write(); false when the file is closed or the write
  // fails or falls short.
  bool Write(std::string_view line) const;

 private:
  int m_fd = -1;
};
