#include "firewall/service/enforcer.h"

#include "firewall/com/com_runtime.h"
#include "firewall/service/nftables_enforcer.h"

std::shared_ptr<Enforcer> CreateEnforcer(BackendChoice* choice, bool serveAppVerdicts) {
  if (choice->backend == FirewallBackend::kStore) return std::make_shared<StoreOnlyEnforcer>();
  auto nftables = std::make_shared<NftablesEnforcer>(serveAppVerdicts);
  if (!choice->automatic || nftables->MayChangeKernelFirewall()) return nftables;
  // The probe's failure is the reason for the choice, not an error.
  *choice = {FirewallBackend::kStore, true, "the kernel refused nftables (" + TakeErrorInfoText() + ")"};
  return std::make_shared<StoreOnlyEnforcer>();
}
