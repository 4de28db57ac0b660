#pragma once

#include <sys/types.h>

#include <string>
#include <string_view>

// "Logger.txt": opened once, emptied, and written one line per write call with no
// buffering of our own, so each line reaches the system at once. A line that cannot be
// written whole leaves nothing behind: the file always ends with a whole line.
//
// Each line goes to the end of what this log wrote, with pwrite(): a write() in a process
// of several threads would also take the kernel's lock of the file position every time.
class LogFile {
 public:
  LogFile() = default;  // closed: every write fails
  ~LogFile();
  LogFile(LogFile&& other) noexcept;
  LogFile& operator=(LogFile&& other) noexcept;

  // Creates or empties the file. A symbolic link, or anything but a regular file, at
  // `path` is left untouched and the file stays closed: a privileged capture must not
  // truncate whatever a planted link points at.
  static LogFile Open(const std::string& path);
  // A log kept in memory (MemoryText), for runs that must not touch the disk.
  static LogFile InMemory();

  bool IsOpen() const { return m_fd >= 0 || m_inMemory; }
  // Writes all of `line` with one call; false when the file is closed or the write
  // fails or falls short, in which case the part written is cut off again.
  bool Write(std::string_view line);
  const std::string& MemoryText() const { return m_memory; }

 private:
  int m_fd = -1;
  off_t m_end = 0;  // where the next line goes
  bool m_inMemory = false;
  std::string m_memory;
};
