#pragma once
// The choice of backend on this machine, where the system service is one of them, and the
// registration of the firewall's classes in front of it.
#include <string>

#include "firewall/bus/firewall_bus_client.h"
#include "firewall/local_registration.h"

// The backend `requested` names ("service", "nftables", "store"), or for "" the service
// where it is installed (its bus name has an owner or can be activated), else the choice
// between nftables and the store. Asks the kernel nothing. Refuses nftables (kBusy)
// while the service runs: the table has one owner.
Status ChooseFirewallBackend(const std::string& requested, BackendChoice* choice);

// Registers the firewall's classes for `config`: over the service, or held by this process.
// Over the service, creating the manager needs a system bus and fails without one, and the
// policy and the profile are given once the service answers; `report` is told the reason
// of every change the service refused or failed.
Status RegisterFirewall(const FirewallSettings& config, FirewallBusClient::FailureReport report);

// Makes the kernel hold the stored configuration again: through the service, or by this
// process.
Status ApplyFirewall(const FirewallSettings& config);
