#include "firewall/nft/nftables_enforcer.h"

#include <nftables/libnftables.h>

#include <optional>
#include <string>

#include "firewall/nft/compat_queue_rule.h"
#include "firewall/nft/nft_commands.h"
#include "firewall/verdicts/app_verdicts.h"
#include "firewall/verdicts/blocked_flows.h"
#include "firewall/verdicts/drop_log.h"

NftablesEnforcer::NftablesEnforcer(bool serveAppVerdicts)
    : m_ctx(nft_ctx_new(NFT_CTX_DEFAULT)), m_verdicts(serveAppVerdicts ? std::make_unique<AppVerdicts>() : nullptr) {
  if (m_verdicts) {
    m_blocked = std::make_unique<BlockedFlows>();
    m_dropLog = std::make_unique<DropLog>(*m_blocked);
    m_verdicts->ReportRefusals([log = m_dropLog.get()](const InboundFlow& flow, bool listening, pid_t pid,
                                                       uid_t owner) { log->Refused(flow, listening, pid, owner); });
  }
  if (!m_ctx) return;
  // JSON output also makes libnftables read its input as JSON.
  nft_ctx_output_set_flags(m_ctx, NFT_CTX_OUTPUT_JSON);
  nft_ctx_buffer_output(m_ctx);
  nft_ctx_buffer_error(m_ctx);
}

NftablesEnforcer::~NftablesEnforcer() {
  if (m_ctx) nft_ctx_free(m_ctx);
}

Status NftablesEnforcer::Run(const std::optional<std::string>& command, const char* doing) {
  if (!m_ctx) return Failed(std::string(doing) + ": libnftables could not be initialised");
  if (!command) return InvalidArgument(std::string(doing) + ": a port that nftables cannot hold");
  const int rc = nft_run_cmd_from_buffer(m_ctx, command->c_str());
  nft_ctx_get_output_buffer(m_ctx);  // read, so that the buffer does not grow
  if (rc == 0) return {};
  std::string error = nft_ctx_get_error_buffer(m_ctx);
  while (!error.empty() && (error.back() == '\n' || error.back() == ' ')) error.pop_back();
  return Failed(std::string(doing) + ": " + (error.empty() ? "the kernel refused the change" : error));
}

const nft::KernelFeatures& NftablesEnforcer::Kernel() {
  // A missing feature is no failure: the rules are made without it.
  if (!m_kernel)
    m_kernel = nft::KernelFeatures{.queueStatement = Run(nft::QueueStatementProbeCommand(), "nftables").ok(),
                                   .socketExpression = Run(nft::SocketExpressionProbeCommand(), "nftables").ok()};
  return *m_kernel;
}

Status NftablesEnforcer::StartVerdicts(bool any) {
  // The reader first, so that no packet waits in a queue no one reads.
  return m_verdicts && any ? m_verdicts->Serve() : Status();
}

Status NftablesEnforcer::MakeQueueRule(bool needed) {
  if (m_queueRuleMade) return {};
  const Status status = AddCompatQueueRule();
  m_queueRuleMade = status.ok();
  return needed ? status : Status();
}

void NftablesEnforcer::StartDropLog() {
  if (!m_dropLog || !m_dropLog->Serve().ok()) return;
  (void)Run(nft::DropLogCommand(Kernel()), "nftables: filling the chain drop_log");
}

Status NftablesEnforcer::Replace(const EnforcedState& state) {
  // The queue rule is made with the table, and kept: making it anew costs the kernel a
  // grace period where it is an xtables target.
  const nft::KernelFeatures& kernel = Kernel();
  Status status = StartVerdicts(!state.authorizedPaths.empty());
  if (status.ok()) status = Run(nft::ReplaceTableCommand(state, kernel), "nftables: replacing the table inet brenvo");
  if (!status.ok()) return status;
  m_queueRuleMade = kernel.queueStatement;
  StartDropLog();
  status = MakeQueueRule(!state.authorizedPaths.empty());
  if (status.ok() && m_verdicts) m_verdicts->SetAuthorizedPaths(state.authorizedPaths);
  return status;
}

Status NftablesEnforcer::ChangeApp(const std::string& path, bool authorized, bool anyAuthorized) {
  Status status = StartVerdicts(anyAuthorized);
  if (status.ok())
    status = Run(nft::AuthorizedAppsCommand(anyAuthorized, Kernel()), "nftables: changing the authorized applications");
  if (status.ok()) status = MakeQueueRule(anyAuthorized);
  if (status.ok() && m_verdicts) m_verdicts->Authorize(path, authorized);
  return status;
}

Status NftablesEnforcer::SwitchFirewall(bool on) {
  return Run(nft::SwitchCommand(on), "nftables: switching the firewall");
}

Status NftablesEnforcer::ChangePort(const PortKey& port, bool open) {
  return Run(nft::PortElementCommand(port, open), "nftables: changing an open port");
}

Status NftablesEnforcer::MayChangeKernelFirewall() { return Run(nft::ProbeCommand(), "nftables"); }

Status NftablesEnforcer::HoldClosed(bool* kept) {
  *kept = false;
  Status refused = Run(nft::ClosedTableCommand(), "nftables: loading a closed table inet brenvo");
  if (refused.ok()) {
    StartDropLog();
    return refused;
  }
  // The command fails where the table exists; any other failure is the kernel's refusal.
  *kept = Run(nft::ListTableCommand(), "nftables").ok();
  return *kept ? Status() : Failed(refused.reason());
}
