#pragma once
// Enforcement through libnftables: the table `inet brenvo`, replaced whole at start-up, its
// input chain added or deleted by a switch, its port set changed one element at a time, its
// chains of authorized applications filled anew when one is enabled or disabled.
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "firewall/nft/enforcer.h"
#include "firewall/nft/nft_commands.h"

struct nft_ctx;
class AppVerdicts;
class BlockedFlows;
class DropLog;

class NftablesEnforcer final : public Enforcer {
 public:
  // One context for the life of the process: it keeps its netlink socket, so a change
  // costs no socket set-up or tear-down. With `serveAppVerdicts`, this process answers the
  // queue of the authorized applications from the first time one is enabled, and keeps the
  // record of blocked flows from the first time the table is made; without, the packets the
  // queue holds wait for another process, or are dropped, and nothing is recorded.
  explicit NftablesEnforcer(bool serveAppVerdicts = false);
  ~NftablesEnforcer() override;
  NftablesEnforcer(const NftablesEnforcer&) = delete;
  NftablesEnforcer& operator=(const NftablesEnforcer&) = delete;

  Status Replace(const EnforcedState& state) override;
  Status SwitchFirewall(bool on) override;
  Status ChangePort(const PortKey& port, bool open) override;
  Status ChangeApp(const std::string& path, bool authorized, bool anyAuthorized) override;

  // Whether libnftables answers and this process may change the kernel firewall; the
  // refusal says why not.
  Status MayChangeKernelFirewall();
  // For a start without the store: keeps the table that the kernel holds, or where there is
  // none loads a closed one (see nft::ClosedTableCommand). Whether it was kept is told.
  Status HoldClosed(bool* kept);

  // The flows the firewall blocked, as the verdicts and the copy of the input chain's drops
  // tell of them; null without the verdicts. Lives as long as the enforcer.
  BlockedFlows* Blocked() { return m_blocked.get(); }

 private:
  Status Run(const std::optional<std::string>& command, const char* doing);
  // What the kernel's nftables can do; asked once.
  const nft::KernelFeatures& Kernel();
  // Starts the verdicts once an application is enabled (`any`).
  Status StartVerdicts(bool any);
  // Adds app_queue's rule through nft_compat where the table was made without one; its
  // failure counts only while an application is `needed`, as nothing reaches the queue
  // otherwise.
  Status MakeQueueRule(bool needed);
  // Starts reading the copies of dropped packets and fills the chain that sends them. The
  // firewall stands without them: where either fails, drops go on unrecorded.
  void StartDropLog();

  nft_ctx* m_ctx;
  std::optional<nft::KernelFeatures> m_kernel;
  bool m_queueRuleMade = false;  // in the table as it stands
  // Before the verdicts, which report to them, so that they outlive the verdict thread.
  std::unique_ptr<BlockedFlows> m_blocked;
  std::unique_ptr<DropLog> m_dropLog;
  std::unique_ptr<AppVerdicts> m_verdicts;
};
