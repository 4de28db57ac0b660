#include "firewall/bus/bus_registration.h"

#include "firewall/service/service_registration.h"

std::string ResolveBackend(const std::string& requested) {
  if (requested.empty() && FirewallBusClient::ServiceAvailable()) return "service";
  return requested;
}

HRESULT RegisterFirewallBusClient(FirewallBusClient::FailureReport report) {
  return RegisterFirewallClasses([report](std::shared_ptr<FirewallConfiguration>* backend) {
    std::shared_ptr<FirewallBusClient> client;
    const HRESULT hr = FirewallBusClient::Connect(&client, report);
    *backend = std::move(client);
    return hr;
  });
}
