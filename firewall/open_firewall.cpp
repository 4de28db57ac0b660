#include "firewall/open_firewall.h"

#include "firewall/local_firewall.h"
#include "firewall/nft/nftables_enforcer.h"

Status ChooseFirewallBackend(const std::string& requested, BackendChoice* choice) {
  if (requested.empty() && FirewallBusClient::ServiceAvailable()) {
    *choice = {FirewallBackend::kService, true, "the system service brenvod is installed"};
    return {};
  }
  const Status status = ChooseBackend(requested, choice);
  if (!status.ok() || choice->backend != FirewallBackend::kNftables || !FirewallBusClient::ServiceRunning())
    return status;
  return Busy(
      "the system service brenvod runs and owns the table inet brenvo; change the firewall through it "
      "(--firewall=service), or stop the service to enforce from this process");
}

namespace {

// The firewall that this process keeps over the store `settings` name, enforced as `choice`
// says (where an automatic choice of nftables is refused by the kernel, the store is taken
// and `choice` says so).
ChosenFirewall Local(const FirewallSettings& settings, BackendChoice choice, FirewallUse use) {
  ChosenFirewall chosen{std::move(choice), {}, {}};
  std::shared_ptr<Enforcer> enforcer = use == FirewallUse::kReads
                                           ? std::make_shared<StoreOnlyEnforcer>()
                                           : CreateEnforcer(&chosen.choice, use == FirewallUse::kStays);
  // Shares the enforcer's life: the record is the enforcer's.
  if (const auto nftables = std::dynamic_pointer_cast<NftablesEnforcer>(enforcer); nftables && nftables->Blocked())
    chosen.blocked = std::shared_ptr<BlockedFlows>(nftables, nftables->Blocked());
  const std::string path = settings.databasePath.empty() ? DefaultDatabasePath() : settings.databasePath;
  chosen.open = [path, enforcer]() -> Result<std::shared_ptr<FirewallConfiguration>> {
    std::shared_ptr<LocalFirewall> local;
    if (Status status = OpenLocalFirewall(path, enforcer, &local); !status.ok()) return status;
    return std::shared_ptr<FirewallConfiguration>(std::move(local));
  };
  return chosen;
}

Result<OpenedFirewall> Open(const ChosenFirewall& chosen) {
  Result<std::shared_ptr<FirewallConfiguration>> opened = chosen.open();
  if (!opened.ok()) return opened.status();
  return OpenedFirewall{chosen.choice, std::move(*opened), chosen.blocked};
}

}  // namespace

Result<ChosenFirewall> ChooseFirewall(const FirewallSettings& settings, FirewallUse use,
                                      FirewallBusClient::FailureReport report) {
  BackendChoice choice;
  if (Status status = ChooseFirewallBackend(settings.backend, &choice); !status.ok()) return status;
  if (choice.backend != FirewallBackend::kService) return Local(settings, std::move(choice), use);
  OpenConfiguration open = [report]() -> Result<std::shared_ptr<FirewallConfiguration>> {
    std::shared_ptr<FirewallBusClient> client;
    if (Status connected = FirewallBusClient::Connect(&client, report); !connected.ok()) return connected;
    return std::shared_ptr<FirewallConfiguration>(std::move(client));
  };
  return ChosenFirewall{std::move(choice), std::move(open), {}};
}

Result<OpenedFirewall> OpenFirewall(const FirewallSettings& settings, FirewallUse use) {
  const Result<ChosenFirewall> chosen = ChooseFirewall(settings, use);
  if (!chosen.ok()) return chosen.status();
  return Open(*chosen);
}

Result<OpenedFirewall> OpenFirewallHere(const FirewallSettings& settings, FirewallUse use) {
  BackendChoice choice;
  if (Status status = ChooseBackend(settings.backend, &choice); !status.ok()) return status;
  if (choice.backend == FirewallBackend::kService)
    return InvalidArgument("the firewall service is reached over the system bus, not opened here");
  return Open(Local(settings, std::move(choice), use));
}

namespace {

// Weak: the registered classes keep the enforcer, and with it the record, alive.
std::weak_ptr<BlockedFlows> g_registeredBlocked;

}  // namespace

Status RegisterFirewall(const FirewallSettings& settings, FirewallBusClient::FailureReport report) {
  Result<ChosenFirewall> chosen = ChooseFirewall(settings, FirewallUse::kStays, std::move(report));
  if (!chosen.ok()) return chosen.status();
  g_registeredBlocked = chosen->blocked;
  return RegisterFirewallClasses(chosen->open, chosen->choice);
}

std::shared_ptr<BlockedFlows> RegisteredBlockedFlows() { return g_registeredBlocked.lock(); }

Status ApplyFirewall(const FirewallSettings& settings) {
  const Result<OpenedFirewall> opened = OpenFirewall(settings, FirewallUse::kChanges);
  if (!opened.ok()) return opened.status();
  // Opening a store this process keeps has applied it already; the service applies on asking.
  return opened->choice.backend == FirewallBackend::kService ? opened->configuration->ApplyAll() : Status();
}
