#pragma once
// The seam between the store and the kernel: the store is the truth, and an enforcer
// makes the kernel follow it. Every call reports failure by its result.
#include <memory>
#include <string>
#include <vector>

#include "firewall/com/records.h"

// What the kernel is to enforce: nothing while the firewall is off, otherwise a closed
// door except for the enabled open ports and for new flows to a socket of a program whose
// executable is one of the authorized paths. Ports and paths are held while the firewall is
// off too, so that switching it on need not load them.
struct EnforcedState {
  bool firewallOn = false;
  std::vector<PortKey> openPorts;
  std::vector<std::string> authorizedPaths;  // of the enabled applications, as stored
};

class Enforcer {
 public:
  virtual ~Enforcer() = default;
  // Replaces all that is enforced with `state` in one atomic step.
  virtual Status Replace(const EnforcedState& state) = 0;
  // Turns the firewall on or off, the ports staying as they are. Opens or closes one port.
  // Both fail when the kernel does not hold what the last change left there, so that the
  // caller can Replace instead.
  virtual Status SwitchFirewall(bool on) = 0;
  virtual Status ChangePort(const PortKey& port, bool open) = 0;
  // Authorizes the program at `path` (UTF-8; "" for a path that no file can have) or no
  // longer, for every new flow from now on; `anyAuthorized` says whether any program is
  // authorized after the change.
  virtual Status ChangeApp(const std::string& path, bool authorized, bool anyAuthorized) = 0;
};

// The store alone: nothing reaches the kernel.
class StoreOnlyEnforcer final : public Enforcer {
 public:
  Status Replace(const EnforcedState&) override { return {}; }
  Status SwitchFirewall(bool) override { return {}; }
  Status ChangePort(const PortKey&, bool) override { return {}; }
  Status ChangeApp(const std::string&, bool, bool) override { return {}; }
};
