#include "firewall/local_registration.h"

#include <unistd.h>

#include <cstdlib>
#include <functional>
#include <utility>
#include <vector>

#include "firewall/com/com_object.h"
#include "firewall/com/com_runtime.h"
#include "firewall/com/netfw_entries.h"
#include "firewall/com/netfw_objects.h"
#include "firewall/local_firewall.h"
#include "firewall/nft/enforcer.h"

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

Status Register(const CLSID& clsid, ClassFactory::Create create) {
  auto* factory = new ClassFactory(std::move(create));
  DWORD cookie = 0;
  const HRESULT hr = CoRegisterClassObject(clsid, factory, &cookie);
  factory->Release();
  if (FAILED(hr)) return Failed("the firewall's classes cannot be registered");
  g_cookies.push_back(cookie);
  return {};
}

// Opens the store of this process when the manager is created.
OpenConfiguration OpenInProcess(const std::string& databasePath, std::shared_ptr<Enforcer> enforcer,
                                int busyTimeoutMs = FirewallStore::kDefaultBusyTimeoutMs) {
  return [=]() -> Result<std::shared_ptr<FirewallConfiguration>> {
    std::shared_ptr<LocalFirewall> service;
    if (Status status = OpenLocalFirewall(databasePath, enforcer, &service, busyTimeoutMs); !status.ok()) return status;
    return std::shared_ptr<FirewallConfiguration>(std::move(service));
  };
}

}  // namespace

Status OpenLocalFirewall(const std::string& databasePath, std::shared_ptr<Enforcer> enforcer,
                         std::shared_ptr<LocalFirewall>* service, int busyTimeoutMs) {
  std::unique_ptr<FirewallStore> store;
  Status status = FirewallStore::Open(databasePath, &store, busyTimeoutMs);
  if (!status.ok()) return status;
  auto opened = std::make_shared<LocalFirewall>(std::move(store), std::move(enforcer));
  // The kernel follows the store from the start, whatever happened to it meanwhile.
  status = opened->ApplyAll();
  if (status.ok()) *service = std::move(opened);
  return status;
}

std::string DefaultDatabasePath() {
  if (geteuid() == 0) return "/var/lib/brenvo/firewall.db";
  const char* state = std::getenv("XDG_STATE_HOME");
  if (state && state[0] == '/') return std::string(state) + "/brenvo/firewall.db";
  const char* home = std::getenv("HOME");
  return std::string(home ? home : "") + "/.local/state/brenvo/firewall.db";
}

Status RegisterLocalFirewall(const std::string& databasePath, std::shared_ptr<Enforcer> enforcer, int busyTimeoutMs) {
  return RegisterFirewallClasses(OpenInProcess(databasePath, std::move(enforcer), busyTimeoutMs));
}

Status RegisterFirewallClasses(const OpenConfiguration& open, std::optional<BackendChoice> choice) {
  RevokeFirewallClasses();
  g_backend = std::move(choice);
  Status status = Register(CLSID_NetFwMgr, [open](REFIID riid, void** object) {
    Result<std::shared_ptr<FirewallConfiguration>> opened = open();
    return opened.ok() ? CreateNetFwMgr(std::move(*opened), riid, object) : ComResult(opened.status());
  });
  if (status.ok()) status = Register(CLSID_NetFwAuthorizedApplication, CreateNetFwAuthorizedApplication);
  if (status.ok()) status = Register(CLSID_NetFwOpenPort, CreateNetFwOpenPort);
  if (!status.ok()) RevokeFirewallClasses();
  return status;
}

void RevokeFirewallClasses() {
  for (const DWORD cookie : g_cookies) CoRevokeClassObject(cookie);
  g_cookies.clear();
  g_backend.reset();
}

std::optional<BackendChoice> RegisteredBackend() { return g_backend; }
