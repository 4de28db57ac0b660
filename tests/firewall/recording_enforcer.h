#pragma once
// An enforcer that writes down what it is asked and refuses on demand.
#include <string>
#include <vector>

#include "firewall/nft/enforcer.h"

class RecordingEnforcer final : public Enforcer {
 public:
  std::vector<std::string> calls;
  int refuseReplace = 0;  // how many of the next calls to refuse
  int refuseChange = 0;   // switches, single ports and the applications

  Status Replace(const EnforcedState& state) override {
    std::string call = state.firewallOn ? "replace on" : "replace off";
    for (const PortKey& port : state.openPorts) call += " " + Key(port);
    for (const std::string& path : state.authorizedPaths) call += " " + path;
    return Record(call, refuseReplace);
  }
  Status SwitchFirewall(bool on) override { return Record(on ? "switch on" : "switch off", refuseChange); }
  Status ChangePort(const PortKey& port, bool open) override {
    return Record((open ? "open " : "close ") + Key(port), refuseChange);
  }
  Status ChangeApp(const std::string& path, bool authorized, bool anyAuthorized) override {
    return Record((authorized ? "authorize " : "unauthorize ") + path + (anyAuthorized ? "" : " (none left)"),
                  refuseChange);
  }

 private:
  static std::string Key(const PortKey& port) {
    return std::to_string(port.number) + "/" + std::to_string(port.protocol);
  }
  Status Record(std::string call, int& refuse) {
    calls.push_back(std::move(call));
    if (refuse == 0) return {};
    --refuse;
    return Failed("refused by the test");
  }
};
