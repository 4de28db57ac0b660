// The manager, its local policy and the current profile. Each object hands out new
// children over the same service; none keeps anything but the service.
#include <utility>

#include "firewall/com/com_object.h"
#include "firewall/com/netfw_entries.h"
#include "firewall/com/netfw_objects.h"

namespace {

// Gives the caller the interface `riid` of a new object, dropping the creator's reference.
template <class Interface>
HRESULT QueryNew(Interface* object, REFIID riid, void** out) {
  const HRESULT hr = object->QueryInterface(riid, out);
  object->Release();
  return hr;
}

class NetFwProfile final : public ServiceObject<INetFwProfile> {
 public:
  using ServiceObject::ServiceObject;

  HRESULT get_FirewallEnabled(VARIANT_BOOL* enabled) override {
    if (!enabled) return E_POINTER;
    const Result<bool> on = m_service->ReadFirewallEnabled();
    *enabled = on.ok() && *on ? VARIANT_TRUE : VARIANT_FALSE;
    return ComResult(on.status());
  }
  HRESULT put_FirewallEnabled(VARIANT_BOOL enabled) override {
    return ComResult(m_service->WriteFirewallEnabled(enabled != VARIANT_FALSE));
  }
  HRESULT get_AuthorizedApplications(INetFwAuthorizedApplications** apps) override {
    if (!apps) return E_POINTER;
    *apps = NewNetFwApps(m_service);
    return S_OK;
  }
  HRESULT get_GloballyOpenPorts(INetFwOpenPorts** openPorts) override {
    if (!openPorts) return E_POINTER;
    *openPorts = NewNetFwPorts(m_service);
    return S_OK;
  }
};

class NetFwPolicy final : public ServiceObject<INetFwPolicy> {
 public:
  using ServiceObject::ServiceObject;

  HRESULT get_CurrentProfile(INetFwProfile** profile) override {
    if (!profile) return E_POINTER;
    *profile = nullptr;
    if (const Status status = m_service->Ping(); !status.ok()) return ComResult(status);
    *profile = new NetFwProfile(m_service);
    return S_OK;
  }
};

class NetFwMgr final : public ServiceObject<INetFwMgr> {
 public:
  using ServiceObject::ServiceObject;

  // A firewall that does not answer yet (a service still starting) gives no policy, so that
  // the caller can try again later.
  HRESULT get_LocalPolicy(INetFwPolicy** policy) override {
    if (!policy) return E_POINTER;
    *policy = nullptr;
    if (const Status status = m_service->Ping(); !status.ok()) return ComResult(status);
    *policy = new NetFwPolicy(m_service);
    return S_OK;
  }
};

}  // namespace

HRESULT CreateNetFwMgr(std::shared_ptr<FirewallConfiguration> service, REFIID riid, void** object) {
  return QueryNew(new NetFwMgr(std::move(service)), riid, object);
}

HRESULT CreateNetFwAuthorizedApplication(REFIID riid, void** object) { return QueryNew(new NetFwApp, riid, object); }

HRESULT CreateNetFwOpenPort(REFIID riid, void** object) { return QueryNew(new NetFwPort, riid, object); }
