#pragma once
// Which backend enforces the firewall's rules in this run, and why: decided once at start,
// told by --help, on standard error when the automatic choice falls back to the store,
// and in the About box.
#include <memory>
#include <optional>
#include <string>

#include "firewall/com/status.h"
#include "firewall/nft/enforcer.h"

// The store kept by this process alone; the store and the kernel's table, by this process;
// the system service brenvod, which keeps and enforces the configuration for everyone.
enum class FirewallBackend { kStore, kNftables, kService };

struct BackendChoice {
  FirewallBackend backend = FirewallBackend::kStore;
  bool automatic = false;
  std::string reason;  // why the automatic choice fell as it did

  bool FellBackToStore() const { return automatic && backend == FirewallBackend::kStore; }
  // One line: the backend, how it was chosen, what it does with the configuration.
  std::string Description() const;
};

// The backend `name` names: "store", "nftables" or "service"; nothing for "", which leaves
// the choice to the machine. Refuses any other name (kInvalidArgument).
Result<std::optional<FirewallBackend>> ParseBackend(const std::string& name);

// Takes the backend named "store", "nftables" or "service", or chooses one of the first two
// when `name` is empty: nftables where this process may change the kernel firewall (it has
// CAP_NET_ADMIN), the store elsewhere. Asks the kernel nothing. Refuses any other name
// (kInvalidArgument). (Whether the service is installed is for the bus to say.)
Status ChooseBackend(const std::string& name, BackendChoice* choice);

// What the About box says of the rules under `backend`; short enough for its one line.
std::string RulesText(FirewallBackend backend);

// The enforcer of `choice`. An automatic choice of nftables is first tried on the kernel
// (a scratch table made and dropped): where the kernel refuses, the store is taken instead
// and `choice` says so. A process that stays (the service, the window) serves the verdicts
// on authorized applications; a command that ends at once leaves them to whoever does.
std::shared_ptr<Enforcer> CreateEnforcer(BackendChoice* choice, bool serveAppVerdicts = false);
