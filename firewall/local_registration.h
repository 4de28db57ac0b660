#pragma once
// What the application calls at start: where the store is, which enforcement to use, and
// the registration of the firewall's classes.
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "firewall/backend_choice.h"
#include "firewall/com/status.h"
#include "firewall/store/firewall_store.h"

class Enforcer;
class FirewallConfiguration;
class LocalFirewall;

struct FirewallSettings {
  std::string databasePath;  // "" = DefaultDatabasePath()
  std::string backend;       // "service", "nftables", "store", "" = automatic
};

// /var/lib/brenvo/firewall.db for root, else $XDG_STATE_HOME/brenvo/firewall.db (with
// ~/.local/state when XDG_STATE_HOME is unset or not absolute).
std::string DefaultDatabasePath();

// Opens the store at `databasePath` (creating it, firewall off, if needed) over `enforcer`
// and makes the kernel hold what it stores; a failure's reason says why.
Status OpenLocalFirewall(const std::string& databasePath, std::shared_ptr<Enforcer> enforcer,
                         std::shared_ptr<LocalFirewall>* service,
                         int busyTimeoutMs = FirewallStore::kDefaultBusyTimeoutMs);

// Registers the factories of CLSID_NetFwMgr, CLSID_NetFwAuthorizedApplication and
// CLSID_NetFwOpenPort, in place of any earlier registration, over the store at
// `databasePath` and `enforcer`. Creating the manager opens the store (creating it, firewall
// off, if needed) and applies it to the kernel; when either fails, creation fails and the
// thread's error text says why. (RegisterFirewall chooses the backend from the settings.)
Status RegisterLocalFirewall(const std::string& databasePath, std::shared_ptr<Enforcer> enforcer,
                             int busyTimeoutMs = FirewallStore::kDefaultBusyTimeoutMs);
// Registers the same three classes over whatever configuration `open` gives: creating the
// manager calls it, and fails when it does. `choice` is what RegisteredBackend() tells.
using OpenConfiguration = std::function<Result<std::shared_ptr<FirewallConfiguration>>()>;
Status RegisterFirewallClasses(const OpenConfiguration& open, std::optional<BackendChoice> choice = {});
void RevokeFirewallClasses();

// The backend that the last registration took, and why; nothing after a registration over
// a given enforcer or a revocation.
std::optional<BackendChoice> RegisteredBackend();
