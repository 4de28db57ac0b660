#include "firewall/backend_choice.h"

#include <linux/capability.h>
#include <sys/syscall.h>
#include <unistd.h>

#include "firewall/nft/nftables_enforcer.h"

namespace {

// Changing the kernel firewall takes CAP_NET_ADMIN in the effective set; root has it.
bool MayChangeKernelFirewall() {
  __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
  __user_cap_data_struct sets[_LINUX_CAPABILITY_U32S_3]{};
  if (syscall(SYS_capget, &header, sets) != 0) return false;
  return (sets[CAP_TO_INDEX(CAP_NET_ADMIN)].effective & CAP_TO_MASK(CAP_NET_ADMIN)) != 0;
}

}  // namespace

std::string BackendChoice::Description() const {
  const std::string how = automatic ? "automatic: " + reason : "chosen";
  if (backend == FirewallBackend::kService)
    return "service (" + how + "): the system service brenvod keeps the configuration and enforces it";
  if (backend == FirewallBackend::kNftables)
    return "nftables (" + how + "): the configuration is enforced in the table inet brenvo";
  return "store (" + how + "): the configuration is kept, nothing is enforced in the kernel";
}

Result<std::optional<FirewallBackend>> ParseBackend(const std::string& name) {
  if (name.empty()) return std::optional<FirewallBackend>();
  if (name == "store") return std::optional(FirewallBackend::kStore);
  if (name == "nftables") return std::optional(FirewallBackend::kNftables);
  if (name == "service") return std::optional(FirewallBackend::kService);
  return InvalidArgument("unknown firewall backend \"" + name + "\" (use service, nftables or store)");
}

Status ChooseBackend(const std::string& name, BackendChoice* choice) {
  const Result<std::optional<FirewallBackend>> named = ParseBackend(name);
  if (!named.ok()) return named.status();
  if (*named)
    *choice = {**named, false, ""};
  else if (MayChangeKernelFirewall())
    *choice = {FirewallBackend::kNftables, true, "this process may change the kernel firewall"};
  else
    *choice = {FirewallBackend::kStore, true, "this process may not change the kernel firewall"};
  return {};
}

std::string RulesText(FirewallBackend backend) {
  switch (backend) {
    case FirewallBackend::kNftables: return "Rules: enforced by nftables";
    case FirewallBackend::kService: return "Rules: enforced by brenvod";
    case FirewallBackend::kStore: break;
  }
  return "Rules: kept, not enforced";
}

std::shared_ptr<Enforcer> CreateEnforcer(BackendChoice* choice, bool serveAppVerdicts) {
  if (choice->backend == FirewallBackend::kStore) return std::make_shared<StoreOnlyEnforcer>();
  auto nftables = std::make_shared<NftablesEnforcer>(serveAppVerdicts);
  if (!choice->automatic) return nftables;
  const Status probe = nftables->MayChangeKernelFirewall();
  if (probe.ok()) return nftables;
  // The probe's failure is the reason for the choice, not an error.
  *choice = {FirewallBackend::kStore, true, "the kernel refused nftables (" + probe.reason() + ")"};
  return std::make_shared<StoreOnlyEnforcer>();
}
