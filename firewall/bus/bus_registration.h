#pragma once
// The firewall's classes in front of the system service, and the choice of backend that
// puts them there.
#include <string>

#include "firewall/bus/firewall_bus_client.h"

// "service" where it is asked for, or where nothing is asked and the service is installed
// (its bus name has an owner or can be activated); otherwise `requested` as it stands
// ("store", "nftables", or "" for the choice between them).
std::string ResolveBackend(const std::string& requested);

// Registers the firewall's classes over the service: creating the manager needs a system
// bus and fails without one; the policy and the profile are given once the service answers.
// `report` is told the reason of every change the service refused or failed.
HRESULT RegisterFirewallBusClient(FirewallBusClient::FailureReport report);
