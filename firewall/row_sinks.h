#pragma once
// Where the listing operations append their rows (the two exception pages). Texts are
// UTF-8, this system's single-byte code page.
#include <string>

class IProgramRowSink {
 public:
  virtual void AddProgramRow(std::string name, std::string path, int enabled) = 0;

 protected:
  ~IProgramRowSink() = default;
};

class IPortRowSink {
 public:
  virtual void AddPortRow(std::string name, std::string protocolText, std::string numberText, int enabled) = 0;

 protected:
  ~IPortRowSink() = default;
};
