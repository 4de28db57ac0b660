#pragma once
// What the application calls at start: where the store is, which enforcement to use, and
// the registration of the firewall's classes.
#include <memory>
#include <optional>
#include <string>

#include "firewall/com/hresult.h"
#include "firewall/service/backend_choice.h"
#include "firewall/service/firewall_store.h"

class Enforcer;

struct ServiceConfig {
  std::string databasePath;  // "" = DefaultDatabasePath()
  std::string backend;       // "store", "nftables", "" = automatic
};

// /var/lib/brenvo/firewall.db for root, else $XDG_STATE_HOME/brenvo/firewall.db (with
// ~/.local/state when XDG_STATE_HOME is unset or not absolute).
std::string DefaultDatabasePath();

// Registers the factories of CLSID_NetFwMgr, CLSID_NetFwAuthorizedApplication and
// CLSID_NetFwOpenPort, in place of any earlier registration. Creating the manager opens
// the store (creating it, firewall off, if needed) and applies it to the kernel; when
// either fails, creation fails and the thread's error text says why. Fails itself only
// for an unknown backend name.
HRESULT RegisterFirewallService(const ServiceConfig& config);
// The same over a given enforcer and busy timeout.
HRESULT RegisterFirewallService(const std::string& databasePath, std::shared_ptr<Enforcer> enforcer,
                                int busyTimeoutMs = FirewallStore::kDefaultBusyTimeoutMs);
void RevokeFirewallService();

// Applies the stored configuration to the kernel in one atomic step (for `brenvo --apply`).
HRESULT ApplyFirewallConfiguration(const ServiceConfig& config);

// One line saying which backend `config` selects and why (for `brenvo --help`), found
// without touching the kernel.
std::string DescribeBackend(const ServiceConfig& config);

// The backend that the last RegisterFirewallService(config) took, and why; nothing after a
// registration over a given enforcer or a revocation.
std::optional<BackendChoice> RegisteredBackend();
