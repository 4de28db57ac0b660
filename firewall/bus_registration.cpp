#include "firewall/bus_registration.h"

#include "firewall/com/com_runtime.h"

HRESULT ChooseFirewallBackend(const std::string& requested, BackendChoice* choice) {
  if (requested.empty() && FirewallBusClient::ServiceAvailable()) {
    *choice = {FirewallBackend::kService, true, "the system service brenvod is installed"};
    return S_OK;
  }
  const HRESULT hr = ChooseBackend(requested, choice);
  if (FAILED(hr) || choice->backend != FirewallBackend::kNftables || !FirewallBusClient::ServiceRunning()) return hr;
  SetErrorInfoText(
      "the system service brenvod runs and owns the table inet brenvo; change the firewall through it "
      "(--firewall=service), or stop the service to enforce from this process");
  return HRESULT_BUSY;
}

HRESULT RegisterFirewall(const FirewallSettings& config, FirewallBusClient::FailureReport report) {
  BackendChoice choice;
  const HRESULT hr = ChooseFirewallBackend(config.backend, &choice);
  if (FAILED(hr)) return hr;
  if (choice.backend != FirewallBackend::kService) return RegisterLocalFirewall(config);
  return RegisterFirewallClasses(
      [report](std::shared_ptr<FirewallConfiguration>* configuration) {
        std::shared_ptr<FirewallBusClient> client;
        const HRESULT connected = FirewallBusClient::Connect(&client, report);
        *configuration = std::move(client);
        return connected;
      },
      choice);
}

HRESULT ApplyFirewall(const FirewallSettings& config) {
  BackendChoice choice;
  HRESULT hr = ChooseFirewallBackend(config.backend, &choice);
  if (FAILED(hr)) return hr;
  if (choice.backend != FirewallBackend::kService) return ApplyFirewallConfiguration(config);
  std::shared_ptr<FirewallBusClient> client;
  hr = FirewallBusClient::Connect(&client);
  return FAILED(hr) ? hr : client->ApplyAll();
}
