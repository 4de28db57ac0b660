#pragma once
// CFirewall with its window hooks recorded instead of shown, and row sinks that collect.
#include <string>
#include <vector>

#include "firewall/firewall.h"

struct ProgramRow {
  std::string name;
  std::string path;
  int enabled;
  bool operator==(const ProgramRow&) const = default;
};

struct PortRow {
  std::string name;
  std::string protocolText;
  std::string numberText;
  int enabled;
  bool operator==(const PortRow&) const = default;
};

class TestFirewall : public CFirewall, public IProgramRowSink, public IPortRowSink {
 public:
  using CFirewall::m_pProfile;

  int unavailableShown = 0;
  std::vector<int> endedWith;
  std::vector<int> exitedWith;
  std::vector<unsigned> waits;
  std::vector<ProgramRow> programRows;
  std::vector<PortRow> portRows;
  bool sinksAttached = true;

  void AddProgramRow(std::string name, std::string path, int enabled) override {
    programRows.push_back({std::move(name), std::move(path), enabled});
  }
  void AddPortRow(std::string name, std::string protocolText, std::string numberText, int enabled) override {
    portRows.push_back({std::move(name), std::move(protocolText), std::move(numberText), enabled});
  }

 protected:
  void ShowFirewallUnavailable() override { ++unavailableShown; }
  void EndMainDialog(int result) override { endedWith.push_back(result); }
  void ExitProcess(int status) override { exitedWith.push_back(status); }
  void WaitBeforeRetry(unsigned milliseconds) override { waits.push_back(milliseconds); }
  IProgramRowSink* ProgramRows() override { return sinksAttached ? this : nullptr; }
  IPortRowSink* PortRows() override { return sinksAttached ? this : nullptr; }
};
