#include "firewall/nft/nftables_enforcer.h"

#include <nftables/libnftables.h>

#include <optional>
#include <string>

#include "firewall/com/com_runtime.h"
#include "firewall/verdicts/app_verdicts.h"
#include "firewall/nft/compat_queue_rule.h"
#include "firewall/nft/nft_commands.h"

NftablesEnforcer::NftablesEnforcer(bool serveAppVerdicts)
    : m_ctx(nft_ctx_new(NFT_CTX_DEFAULT)), m_verdicts(serveAppVerdicts ? std::make_unique<AppVerdicts>() : nullptr) {
  if (!m_ctx) return;
  // JSON output also makes libnftables read its input as JSON.
  nft_ctx_output_set_flags(m_ctx, NFT_CTX_OUTPUT_JSON);
  nft_ctx_buffer_output(m_ctx);
  nft_ctx_buffer_error(m_ctx);
}

NftablesEnforcer::~NftablesEnforcer() {
  if (m_ctx) nft_ctx_free(m_ctx);
}

HRESULT NftablesEnforcer::Run(const std::optional<std::string>& command, const char* doing) {
  if (!m_ctx) {
    SetErrorInfoText(std::string(doing) + ": libnftables could not be initialised");
    return E_FAIL;
  }
  if (!command) {
    SetErrorInfoText(std::string(doing) + ": a port that nftables cannot hold");
    return E_INVALIDARG;
  }
  const int rc = nft_run_cmd_from_buffer(m_ctx, command->c_str());
  nft_ctx_get_output_buffer(m_ctx);  // read, so that the buffer does not grow
  if (rc == 0) return S_OK;
  std::string error = nft_ctx_get_error_buffer(m_ctx);
  while (!error.empty() && (error.back() == '\n' || error.back() == ' ')) error.pop_back();
  SetErrorInfoText(std::string(doing) + ": " + (error.empty() ? "the kernel refused the change" : error));
  return E_FAIL;
}

bool NftablesEnforcer::HasQueueStatement() {
  if (!m_queueStatement) {
    m_queueStatement = SUCCEEDED(Run(nft::QueueStatementProbeCommand(), "nftables"));
    TakeErrorInfoText();  // a missing statement is no failure: the rule is made otherwise
  }
  return *m_queueStatement;
}

HRESULT NftablesEnforcer::StartVerdicts(bool any) {
  // The reader first, so that no packet waits in a queue no one reads.
  return m_verdicts && any ? m_verdicts->Serve() : S_OK;
}

HRESULT NftablesEnforcer::MakeQueueRule(bool needed) {
  if (m_queueRuleMade) return S_OK;
  const HRESULT hr = AddCompatQueueRule();
  m_queueRuleMade = SUCCEEDED(hr);
  if (SUCCEEDED(hr) || needed) return hr;
  TakeErrorInfoText();
  return S_OK;
}

HRESULT NftablesEnforcer::Replace(const EnforcedState& state) {
  // The queue rule is made with the table, and kept: making it anew costs the kernel a
  // grace period where it is an xtables target.
  const bool statement = HasQueueStatement();
  HRESULT hr = StartVerdicts(!state.authorizedPaths.empty());
  if (SUCCEEDED(hr)) hr = Run(nft::ReplaceTableCommand(state, statement), "nftables: replacing the table inet brenvo");
  if (FAILED(hr)) return hr;
  m_queueRuleMade = statement;
  hr = MakeQueueRule(!state.authorizedPaths.empty());
  if (SUCCEEDED(hr) && m_verdicts) m_verdicts->SetAuthorizedPaths(state.authorizedPaths);
  return hr;
}

HRESULT NftablesEnforcer::ChangeApp(const std::string& path, bool authorized, bool anyAuthorized) {
  HRESULT hr = StartVerdicts(anyAuthorized);
  if (SUCCEEDED(hr))
    hr = Run(nft::AuthorizedAppsCommand(anyAuthorized), "nftables: changing the authorized applications");
  if (SUCCEEDED(hr)) hr = MakeQueueRule(anyAuthorized);
  if (SUCCEEDED(hr) && m_verdicts) m_verdicts->Authorize(path, authorized);
  return hr;
}

HRESULT NftablesEnforcer::SwitchFirewall(bool on) {
  return Run(nft::SwitchCommand(on), "nftables: switching the firewall");
}

HRESULT NftablesEnforcer::ChangePort(const PortKey& port, bool open) {
  return Run(nft::PortElementCommand(port, open), "nftables: changing an open port");
}

bool NftablesEnforcer::MayChangeKernelFirewall() { return SUCCEEDED(Run(nft::ProbeCommand(), "nftables")); }

HRESULT NftablesEnforcer::HoldClosed(bool* kept) {
  *kept = false;
  if (SUCCEEDED(Run(nft::ClosedTableCommand(), "nftables: loading a closed table inet brenvo"))) return S_OK;
  const std::string refused = TakeErrorInfoText();
  // The command fails where the table exists; any other failure is the kernel's refusal.
  *kept = SUCCEEDED(Run(nft::ListTableCommand(), "nftables"));
  if (*kept) return S_OK;
  SetErrorInfoText(refused);
  return E_FAIL;
}
