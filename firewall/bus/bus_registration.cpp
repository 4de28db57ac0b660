#include "firewall/bus/bus_registration.h"

HRESULT ChooseFirewallBackend(const std::string& requested, BackendChoice* choice) {
  if (requested.empty() && FirewallBusClient::ServiceAvailable()) {
    *choice = {FirewallBackend::kService, true, "the system service brenvod is installed"};
    return S_OK;
  }
  return ChooseBackend(requested, choice);
}

HRESULT RegisterFirewall(const ServiceConfig& config, FirewallBusClient::FailureReport report) {
  BackendChoice choice;
  const HRESULT hr = ChooseFirewallBackend(config.backend, &choice);
  if (FAILED(hr)) return hr;
  if (choice.backend != FirewallBackend::kService) return RegisterFirewallService(config);
  return RegisterFirewallClasses(
      [report](std::shared_ptr<FirewallConfiguration>* configuration) {
        std::shared_ptr<FirewallBusClient> client;
        const HRESULT connected = FirewallBusClient::Connect(&client, report);
        *configuration = std::move(client);
        return connected;
      },
      choice);
}

HRESULT ApplyFirewall(const ServiceConfig& config) {
  BackendChoice choice;
  HRESULT hr = ChooseFirewallBackend(config.backend, &choice);
  if (FAILED(hr)) return hr;
  if (choice.backend != FirewallBackend::kService) return ApplyFirewallConfiguration(config);
  std::shared_ptr<FirewallBusClient> client;
  hr = FirewallBusClient::Connect(&client);
  return FAILED(hr) ? hr : client->ApplyAll();
}
