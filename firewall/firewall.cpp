// The current profile: opening it, its on/off state, releasing it.
#include "firewall/firewall.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>

#include "firewall/com/com_ptr.h"
#include "firewall/com/com_runtime.h"

namespace {

constexpr int kRetries = 20;
constexpr unsigned kRetryDelayMs = 5000;

}  // namespace

CFirewall::~CFirewall() { ReleaseFirewallProfile(); }

void CFirewall::ExitProcess(int status) { std::exit(status); }

void CFirewall::WaitBeforeRetry(unsigned milliseconds) {
  std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}

FW_ERROR_CODE CFirewall::OpenCurrentProfile(INetFwMgr* manager) {
  try {
    ComPtr<INetFwPolicy> policy;
    if (FAILED(manager->get_LocalPolicy(policy.ReleaseAndGetAddressOf()))) throw FW_E_LOCAL_POLICY;
    if (FAILED(policy->get_CurrentProfile(&m_pProfile))) throw FW_E_CURRENT_PROFILE;
  } catch (FW_ERROR_CODE code) {
    return code;
  }
  return FW_OK;
}

FW_ERROR_CODE CFirewall::InitFirewallProfile() {
  if (m_pProfile) return FW_E_PROFILE_STATE;
  ComPtr<INetFwMgr> manager;
  const HRESULT hr = CoCreateInstance(CLSID_NetFwMgr, nullptr, CLSCTX_INPROC_SERVER, IID_INetFwMgr,
                                      manager.ReleaseAndGetVoidAddress());
  if (FAILED(hr)) {
    // A diagnostic for whoever started Brenvo from a terminal; the user sees the message.
    const std::string reason = TakeErrorInfoText();
    std::fprintf(stderr, "brenvo: the firewall cannot be opened: %s (0x%08X)\n",
                 reason.empty() ? "the firewall manager could not be created" : reason.c_str(),
                 static_cast<unsigned>(hr));
    ShowFirewallUnavailable();
    // A failure must not end with the status of success.
    ExitProcess(1);
    return FW_E_PROFILE_STATE;  // reached only where ExitProcess returns: no profile is held
  }
  FW_ERROR_CODE result = FW_OK;
  const FW_ERROR_CODE first = OpenCurrentProfile(manager.Get());
  if (first != FW_OK) {
    int failures = 0;
    while (failures < kRetries) {
      WaitBeforeRetry(kRetryDelayMs);
      if (OpenCurrentProfile(manager.Get()) == FW_OK) break;
      ++failures;
    }
    if (failures == kRetries) {
      result = first;
      ShowFirewallUnavailable();
      EndMainDialog(0);
    }
  }
  return result;
}

FW_ERROR_CODE CFirewall::QueryFirewallOn(BOOL* on) {
  *on = FALSE;
  try {
    if (!m_pProfile) throw FW_E_PROFILE_STATE;
    VARIANT_BOOL enabled = VARIANT_FALSE;
    if (FAILED(m_pProfile->get_FirewallEnabled(&enabled))) throw FW_E_READ_FIREWALL_STATE;
    if (enabled != VARIANT_FALSE) *on = TRUE;
  } catch (FW_ERROR_CODE code) {
    return code;
  }
  return FW_OK;
}

FW_ERROR_CODE CFirewall::SwitchFirewall(BOOL on) {
  try {
    if (!m_pProfile) throw FW_E_PROFILE_STATE;
    BOOL current = FALSE;
    const FW_ERROR_CODE code = QueryFirewallOn(&current);
    if (code != FW_OK) throw code;
    if (current != on && FAILED(m_pProfile->put_FirewallEnabled(on ? VARIANT_TRUE : VARIANT_FALSE)))
      throw FW_E_WRITE_FIREWALL_STATE;
  } catch (FW_ERROR_CODE code) {
    return code;
  }
  return FW_OK;
}

FW_ERROR_CODE CFirewall::SwitchFirewallOn() { return SwitchFirewall(TRUE); }

FW_ERROR_CODE CFirewall::SwitchFirewallOff() { return SwitchFirewall(FALSE); }

FW_ERROR_CODE CFirewall::ReleaseFirewallProfile() {
  if (m_pProfile) {
    m_pProfile->Release();
    m_pProfile = nullptr;
  }
  return FW_OK;
}
