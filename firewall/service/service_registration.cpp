#include "firewall/service/service_registration.h"

#include <unistd.h>

#include <cstdlib>
#include <functional>
#include <utility>
#include <vector>

#include "firewall/com/com_object.h"
#include "firewall/com/com_runtime.h"
#include "firewall/service/enforcer.h"
#include "firewall/service/netfw_objects.h"

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

HRESULT OpenService(const std::string& databasePath, std::shared_ptr<Enforcer> enforcer, int busyTimeoutMs,
                    std::shared_ptr<FirewallService>* service) {
  std::unique_ptr<FirewallStore> store;
  HRESULT hr = FirewallStore::Open(databasePath, &store, busyTimeoutMs);
  if (FAILED(hr)) return hr;
  auto opened = std::make_shared<FirewallService>(std::move(store), std::move(enforcer));
  // The kernel follows the store from the start, whatever happened to it meanwhile.
  hr = opened->ApplyAll();
  if (SUCCEEDED(hr)) *service = std::move(opened);
  return hr;
}

HRESULT Register(const CLSID& clsid, ClassFactory::Create create) {
  auto* factory = new ClassFactory(std::move(create));
  DWORD cookie = 0;
  const HRESULT hr = CoRegisterClassObject(clsid, factory, &cookie);
  factory->Release();
  if (SUCCEEDED(hr)) g_cookies.push_back(cookie);
  return hr;
}

std::string ResolvedPath(const ServiceConfig& config) {
  return config.databasePath.empty() ? DefaultDatabasePath() : config.databasePath;
}

}  // namespace

std::string DefaultDatabasePath() {
  if (geteuid() == 0) return "/var/lib/brenvo/firewall.db";
  const char* state = std::getenv("XDG_STATE_HOME");
  if (state && state[0] == '/') return std::string(state) + "/brenvo/firewall.db";
  const char* home = std::getenv("HOME");
  return std::string(home ? home : "") + "/.local/state/brenvo/firewall.db";
}

HRESULT RegisterFirewallService(const ServiceConfig& config) {
  BackendChoice choice;
  HRESULT hr = ChooseBackend(config.backend, &choice);
  if (FAILED(hr)) return hr;
  hr = RegisterFirewallService(ResolvedPath(config), CreateEnforcer(&choice));
  if (SUCCEEDED(hr)) g_backend = std::move(choice);
  return hr;
}

HRESULT RegisterFirewallService(const std::string& databasePath, std::shared_ptr<Enforcer> enforcer,
                                int busyTimeoutMs) {
  RevokeFirewallService();
  HRESULT hr = Register(CLSID_NetFwMgr, [=](REFIID riid, void** object) {
    std::shared_ptr<FirewallService> service;
    const HRESULT opened = OpenService(databasePath, enforcer, busyTimeoutMs, &service);
    return FAILED(opened) ? opened : CreateNetFwMgr(std::move(service), riid, object);
  });
  if (SUCCEEDED(hr)) hr = Register(CLSID_NetFwAuthorizedApplication, CreateNetFwAuthorizedApplication);
  if (SUCCEEDED(hr)) hr = Register(CLSID_NetFwOpenPort, CreateNetFwOpenPort);
  if (FAILED(hr)) RevokeFirewallService();
  return hr;
}

void RevokeFirewallService() {
  for (const DWORD cookie : g_cookies) CoRevokeClassObject(cookie);
  g_cookies.clear();
  g_backend.reset();
}

std::optional<BackendChoice> RegisteredBackend() { return g_backend; }

HRESULT ApplyFirewallConfiguration(const ServiceConfig& config) {
  BackendChoice choice;
  HRESULT hr = ChooseBackend(config.backend, &choice);
  std::shared_ptr<FirewallService> service;
  if (SUCCEEDED(hr))
    hr = OpenService(ResolvedPath(config), CreateEnforcer(&choice), FirewallStore::kDefaultBusyTimeoutMs, &service);
  return hr;
}

std::string DescribeBackend(const ServiceConfig& config) {
  BackendChoice choice;
  const HRESULT hr = ChooseBackend(config.backend, &choice);
  return SUCCEEDED(hr) ? choice.Description() : TakeErrorInfoText();
}
