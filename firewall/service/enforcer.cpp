#include "firewall/service/enforcer.h"

#include "firewall/com/com_runtime.h"
#include "firewall/service/nftables_enforcer.h"

HRESULT CreateEnforcer(const std::string& backend, std::shared_ptr<Enforcer>* enforcer, std::string* description) {
  if (backend == "store") {
    *enforcer = std::make_shared<StoreOnlyEnforcer>();
    *description = "store (chosen): the configuration is kept, nothing is enforced in the kernel";
    return S_OK;
  }
  if (backend == "nftables") {
    *enforcer = std::make_shared<NftablesEnforcer>();
    *description = "nftables (chosen): the configuration is enforced in the table inet brenvo";
    return S_OK;
  }
  if (!backend.empty()) {
    SetErrorInfoText("unknown firewall backend \"" + backend + "\" (use store or nftables)");
    return E_INVALIDARG;
  }
  auto nftables = std::make_shared<NftablesEnforcer>();
  if (nftables->MayChangeKernelFirewall()) {
    *enforcer = std::move(nftables);
    *description = "nftables (automatic): the configuration is enforced in the table inet brenvo";
  } else {
    *enforcer = std::make_shared<StoreOnlyEnforcer>();
    *description =
        "store (automatic: this process may not change the kernel firewall): "
        "the configuration is kept, nothing is enforced";
  }
  TakeErrorInfoText();  // the probe's failure is the reason for the choice, not an error
  return S_OK;
}
