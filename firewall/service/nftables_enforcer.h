#pragma once
// Enforcement through libnftables: the table `inet brenvo`, replaced whole at start-up, its
// input chain added or deleted by a switch, its port set changed one element at a time.
#include <optional>
#include <string>

#include "firewall/service/enforcer.h"

struct nft_ctx;

class NftablesEnforcer final : public Enforcer {
 public:
  // One context for the life of the process: it keeps its netlink socket, so a change
  // costs no socket set-up or tear-down.
  NftablesEnforcer();
  ~NftablesEnforcer() override;
  NftablesEnforcer(const NftablesEnforcer&) = delete;
  NftablesEnforcer& operator=(const NftablesEnforcer&) = delete;

  HRESULT Replace(const EnforcedState& state) override;
  HRESULT SwitchFirewall(bool on) override;
  HRESULT ChangePort(const PortKey& port, bool open) override;

  // Whether libnftables answers and this process may change the kernel firewall.
  bool MayChangeKernelFirewall();

 private:
  HRESULT Run(const std::optional<std::string>& command, const char* doing);

  nft_ctx* m_ctx;
};
