#include "firewall/bus_registration.h"

Status ChooseFirewallBackend(const std::string& requested, BackendChoice* choice) {
  if (requested.empty() && FirewallBusClient::ServiceAvailable()) {
    *choice = {FirewallBackend::kService, true, "the system service brenvod is installed"};
    return {};
  }
  const Status status = ChooseBackend(requested, choice);
  if (!status.ok() || choice->backend != FirewallBackend::kNftables || !FirewallBusClient::ServiceRunning())
    return status;
  return Busy(
      "the system service brenvod runs and owns the table inet brenvo; change the firewall through it "
      "(--firewall=service), or stop the service to enforce from this process");
}

Status RegisterFirewall(const FirewallSettings& config, FirewallBusClient::FailureReport report) {
  BackendChoice choice;
  const Status status = ChooseFirewallBackend(config.backend, &choice);
  if (!status.ok()) return status;
  if (choice.backend != FirewallBackend::kService) return RegisterLocalFirewall(config);
  return RegisterFirewallClasses(
      [report]() -> Result<std::shared_ptr<FirewallConfiguration>> {
        std::shared_ptr<FirewallBusClient> client;
        if (Status connected = FirewallBusClient::Connect(&client, report); !connected.ok()) return connected;
        return std::shared_ptr<FirewallConfiguration>(std::move(client));
      },
      choice);
}

Status ApplyFirewall(const FirewallSettings& config) {
  BackendChoice choice;
  Status status = ChooseFirewallBackend(config.backend, &choice);
  if (!status.ok()) return status;
  if (choice.backend != FirewallBackend::kService) return ApplyFirewallConfiguration(config);
  std::shared_ptr<FirewallBusClient> client;
  status = FirewallBusClient::Connect(&client);
  return !status.ok() ? status : client->ApplyAll();
}
