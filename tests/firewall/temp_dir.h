#pragma once
// A fresh folder under /tmp, removed with everything in it when the test ends.
#include <stdlib.h>

#include <filesystem>
#include <string>

class TempDir {
 public:
  TempDir() {
    char pattern[] = "/tmp/brenvo-test-XXXXXX";
    m_path = mkdtemp(pattern);
  }
  ~TempDir() {
    std::error_code ignored;
    std::filesystem::remove_all(m_path, ignored);
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  std::string File(const std::string& name) const { return m_path + "/" + name; }

 private:
  std::string m_path;
};
