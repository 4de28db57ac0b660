#pragma once
// The objects that the class factories hand out.
#include <memory>
#include <utility>

#include "firewall/com/com_object.h"
#include "firewall/com/firewall_configuration.h"
#include "firewall/com/netfw.h"

// The manager over an open service; policy, profile and collections hang from it.
HRESULT CreateNetFwMgr(std::shared_ptr<FirewallConfiguration> service, REFIID riid, void** object);
// A new authorized application or open port, not yet in a collection.
HRESULT CreateNetFwAuthorizedApplication(REFIID riid, void** object);
HRESULT CreateNetFwOpenPort(REFIID riid, void** object);

// The two collections of the current profile.
INetFwAuthorizedApplications* NewNetFwApps(std::shared_ptr<FirewallConfiguration> service);
INetFwOpenPorts* NewNetFwPorts(std::shared_ptr<FirewallConfiguration> service);

// An object of the model that works on the service.
template <class Interface>
class ServiceObject : public ComObject<Interface> {
 public:
  explicit ServiceObject(std::shared_ptr<FirewallConfiguration> service) : m_service(std::move(service)) {}

 protected:
  std::shared_ptr<FirewallConfiguration> m_service;
};
