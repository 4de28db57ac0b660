#pragma once
// Where the window, brenvoctl and brenvod get their firewall: the one place that chooses the
// backend from the settings and opens it, and the registration of the firewall's classes in
// front of it.
#include <memory>
#include <string>

#include "firewall/bus/firewall_bus_client.h"
#include "firewall/local_registration.h"

class BlockedFlows;

// The backend `requested` names ("service", "nftables", "store"), or for "" the service
// where it is installed (its bus name has an owner or can be activated), else the choice
// between nftables and the store. Asks the kernel nothing. Refuses nftables (kBusy)
// while the service runs: the table has one owner.
Status ChooseFirewallBackend(const std::string& requested, BackendChoice* choice);

// What the process that opens the firewall does with it.
enum class FirewallUse {
  kStays,    // holds it while it runs (the window, brenvod), answering for authorized programs
  kChanges,  // may change it, and ends at once
  kReads,    // only reads it: the kernel is left as it is, whatever the backend
};

// The firewall that `settings` name, chosen now and opened by `open`: the service's, over the
// system bus (`report` is told the reason of every change it refuses or fails), or one that
// this process keeps over its store. An automatic choice of nftables is tried on the kernel
// first, and `choice` says where it fell. `blocked` is the record of what this process's
// enforcement blocks, where it keeps the firewall in the kernel and stays; else null (the
// service's is read over the bus).
struct ChosenFirewall {
  BackendChoice choice;
  OpenConfiguration open;
  std::shared_ptr<BlockedFlows> blocked;
};
Result<ChosenFirewall> ChooseFirewall(const FirewallSettings& settings, FirewallUse use,
                                      FirewallBusClient::FailureReport report = {});

// The same, opened at once.
struct OpenedFirewall {
  BackendChoice choice;
  std::shared_ptr<FirewallConfiguration> configuration;
  std::shared_ptr<BlockedFlows> blocked;
};
Result<OpenedFirewall> OpenFirewall(const FirewallSettings& settings, FirewallUse use);
// The same in this process, asking the bus nothing: for brenvod, which is the service and
// keeps the kernel's table itself, also at boot before there is a bus. Refuses "service".
Result<OpenedFirewall> OpenFirewallHere(const FirewallSettings& settings, FirewallUse use);

// Registers the firewall's classes for `settings`, to be opened when the manager is created.
// Over the service, creating the manager needs a system bus and fails without one, and the
// policy and the profile are given once the service answers.
Status RegisterFirewall(const FirewallSettings& settings, FirewallBusClient::FailureReport report = {});
// The `blocked` of the firewall registered last, while its classes are registered.
std::shared_ptr<BlockedFlows> RegisteredBlockedFlows();

// Makes the kernel hold the stored configuration again: through the service, or by this
// process.
Status ApplyFirewall(const FirewallSettings& settings);
