#pragma once
// The seam between the store and the kernel: the store is the truth, and an enforcer
// makes the kernel follow it. Every call reports failure by its result.
#include <memory>
#include <string>
#include <vector>

#include "firewall/service/records.h"

// What the kernel is to enforce: nothing while the firewall is off, otherwise a closed
// door except for the enabled open ports. The ports are held while the firewall is off too,
// so that switching it on need not load them.
struct EnforcedState {
  bool firewallOn = false;
  std::vector<PortKey> openPorts;
};

class Enforcer {
 public:
  virtual ~Enforcer() = default;
  // Replaces all that is enforced with `state` in one atomic step.
  virtual HRESULT Replace(const EnforcedState& state) = 0;
  // Turns the firewall on or off, the ports staying as they are. Opens or closes one port.
  // Both fail when the kernel does not hold what the last change left there, so that the
  // caller can Replace instead.
  virtual HRESULT SwitchFirewall(bool on) = 0;
  virtual HRESULT ChangePort(const PortKey& port, bool open) = 0;
};

// The store alone: nothing reaches the kernel.
class StoreOnlyEnforcer final : public Enforcer {
 public:
  HRESULT Replace(const EnforcedState&) override { return S_OK; }
  HRESULT SwitchFirewall(bool) override { return S_OK; }
  HRESULT ChangePort(const PortKey&, bool) override { return S_OK; }
};

// Picks the enforcer for `backend`: "store", "nftables", or "" for nftables where this
// process may change the kernel firewall and the store elsewhere. `description` says which
// one was taken and why. E_INVALIDARG (with the error text) for any other name.
HRESULT CreateEnforcer(const std::string& backend, std::shared_ptr<Enforcer>* enforcer, std::string* description);
