#include "firewall/local_registration.h"

#include <unistd.h>

#include <cstdlib>
#include <functional>
#include <utility>
#include <vector>

#include "firewall/com/com_object.h"
#include "firewall/com/com_runtime.h"
#include "firewall/nft/enforcer.h"
#include "firewall/local_firewall.h"
#include "firewall/com/netfw_objects.h"

namespace {

class ClassFactory final : public ComObject<IClassFactory> {
 public:
  using Create = std::function<HRESULT(REFIID, void**)>;
  explicit ClassFactory(Create create) : m_create(std::move(create)) {}

  HRESULT CreateInstance(IUnknown* outer, REFIID riid, void** object) override {
    if (!object) return E_POINTER;
    *object = nullptr;
    if (outer) return CLASS_E_NOAGGREGATION;
    return m_create(riid, object);
  }

 private:
  Create m_create;
};

std::vector<DWORD> g_cookies;
std::optional<BackendChoice> g_backend;

HRESULT Register(const CLSID& clsid, ClassFactory::Create create) {
  auto* factory = new ClassFactory(std::move(create));
  DWORD cookie = 0;
  const HRESULT hr = CoRegisterClassObject(clsid, factory, &cookie);
  factory->Release();
  if (SUCCEEDED(hr)) g_cookies.push_back(cookie);
  return hr;
}

// Opens the store of this process when the manager is created.
OpenConfiguration OpenInProcess(const std::string& databasePath, std::shared_ptr<Enforcer> enforcer,
                                int busyTimeoutMs = FirewallStore::kDefaultBusyTimeoutMs) {
  return [=](std::shared_ptr<FirewallConfiguration>* configuration) {
    std::shared_ptr<LocalFirewall> service;
    const HRESULT hr = OpenLocalFirewall(databasePath, enforcer, &service, busyTimeoutMs);
    *configuration = std::move(service);
    return hr;
  };
}

// The backends this process can hold itself: the service is reached over the bus.
HRESULT ChooseInProcessBackend(const std::string& name, BackendChoice* choice) {
  const HRESULT hr = ChooseBackend(name, choice);
  if (FAILED(hr) || choice->backend != FirewallBackend::kService) return hr;
  SetErrorInfoText("the firewall service is reached over the system bus, not opened here");
  return E_INVALIDARG;
}

std::string ResolvedPath(const FirewallSettings& config) {
  return config.databasePath.empty() ? DefaultDatabasePath() : config.databasePath;
}

}  // namespace

HRESULT OpenLocalFirewall(const std::string& databasePath, std::shared_ptr<Enforcer> enforcer,
                            std::shared_ptr<LocalFirewall>* service, int busyTimeoutMs) {
  std::unique_ptr<FirewallStore> store;
  HRESULT hr = FirewallStore::Open(databasePath, &store, busyTimeoutMs);
  if (FAILED(hr)) return hr;
  auto opened = std::make_shared<LocalFirewall>(std::move(store), std::move(enforcer));
  // The kernel follows the store from the start, whatever happened to it meanwhile.
  hr = opened->ApplyAll();
  if (SUCCEEDED(hr)) *service = std::move(opened);
  return hr;
}

std::string DefaultDatabasePath() {
  if (geteuid() == 0) return "/var/lib/brenvo/firewall.db";
  const char* state = std::getenv("XDG_STATE_HOME");
  if (state && state[0] == '/') return std::string(state) + "/brenvo/firewall.db";
  const char* home = std::getenv("HOME");
  return std::string(home ? home : "") + "/.local/state/brenvo/firewall.db";
}

HRESULT RegisterLocalFirewall(const FirewallSettings& config) {
  BackendChoice choice;
  HRESULT hr = ChooseInProcessBackend(config.backend, &choice);
  if (FAILED(hr)) return hr;
  // The window holds the firewall while it is open, and answers for the authorized
  // applications as long.
  return RegisterFirewallClasses(OpenInProcess(ResolvedPath(config), CreateEnforcer(&choice, true)), choice);
}

HRESULT RegisterLocalFirewall(const std::string& databasePath, std::shared_ptr<Enforcer> enforcer,
                                int busyTimeoutMs) {
  return RegisterFirewallClasses(OpenInProcess(databasePath, std::move(enforcer), busyTimeoutMs));
}

HRESULT RegisterFirewallClasses(const OpenConfiguration& open, std::optional<BackendChoice> choice) {
  RevokeFirewallClasses();
  g_backend = std::move(choice);
  HRESULT hr = Register(CLSID_NetFwMgr, [open](REFIID riid, void** object) {
    std::shared_ptr<FirewallConfiguration> backend;
    const HRESULT opened = open(&backend);
    return FAILED(opened) ? opened : CreateNetFwMgr(std::move(backend), riid, object);
  });
  if (SUCCEEDED(hr)) hr = Register(CLSID_NetFwAuthorizedApplication, CreateNetFwAuthorizedApplication);
  if (SUCCEEDED(hr)) hr = Register(CLSID_NetFwOpenPort, CreateNetFwOpenPort);
  if (FAILED(hr)) RevokeFirewallClasses();
  return hr;
}

void RevokeFirewallClasses() {
  for (const DWORD cookie : g_cookies) CoRevokeClassObject(cookie);
  g_cookies.clear();
  g_backend.reset();
}

std::optional<BackendChoice> RegisteredBackend() { return g_backend; }

HRESULT ApplyFirewallConfiguration(const FirewallSettings& config) {
  BackendChoice choice;
  HRESULT hr = ChooseInProcessBackend(config.backend, &choice);
  std::shared_ptr<LocalFirewall> service;
  if (SUCCEEDED(hr)) hr = OpenLocalFirewall(ResolvedPath(config), CreateEnforcer(&choice), &service);
  return hr;
}
