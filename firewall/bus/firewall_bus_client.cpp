#include "firewall/bus/firewall_bus_client.h"

#include <sdbus-c++/sdbus-c++.h>

#include <algorithm>
#include <chrono>
#include <utility>

#include "firewall/bus/bus_protocol.h"
#include "firewall/bus/firewall1_proxy.h"
#include "firewall/com/wide_text.h"

namespace {

// A change waits while polkit asks for a password.
constexpr std::chrono::microseconds kCallTimeout = std::chrono::minutes(2);

// The text as it crosses the bus, or the failure that it cannot.
Status Send(const std::u16string& text, const char* what, std::string* out) {
  auto utf8 = ExactUtf8(text);
  if (!utf8)
    return InvalidArgument(std::string(what) +
                           " cannot be sent to the firewall service: it is not Unicode text without NUL");
  *out = *std::move(utf8);
  return {};
}

std::u16string Received(const std::string& text) { return ExactUtf16(text).value_or(std::u16string()); }

}  // namespace

class FirewallBusClient::Proxy final : public sdbus::ProxyInterfaces<org::brenvo::Firewall1_proxy> {
 public:
  explicit Proxy(sdbus::IConnection& connection) : ProxyInterfaces(connection, bus::kServiceName, bus::kObjectPath) {
    registerProxy();
  }
  ~Proxy() { unregisterProxy(); }

  // Answered by the bus library of any peer, so it tells only whether the service is there.
  void Ping() { getProxy().callMethod("Ping").onInterface("org.freedesktop.DBus.Peer"); }
};

FirewallBusClient::FirewallBusClient(std::unique_ptr<sdbus::IConnection> connection, FailureReport report)
    : m_connection(std::move(connection)),
      m_proxy(std::make_unique<Proxy>(*m_connection)),
      m_report(std::move(report)) {}

FirewallBusClient::~FirewallBusClient() = default;

Status FirewallBusClient::Connect(std::shared_ptr<FirewallBusClient>* client, FailureReport report) {
  std::unique_ptr<sdbus::IConnection> connection;
  if (Status status = bus::ConnectSystemBus(&connection); !status.ok()) return status;
  connection->setMethodCallTimeout(kCallTimeout);
  client->reset(new FirewallBusClient(std::move(connection), std::move(report)));
  return {};
}

namespace {

// Whether the service's bus name has an owner now, or (with `orActivatable`) the bus would
// start it when called; false without a bus.
bool ServiceOnBus(bool orActivatable) {
  try {
    auto connection = sdbus::createSystemBusConnection();
    auto daemon = sdbus::createProxy(*connection, "org.freedesktop.DBus", "/org/freedesktop/DBus");
    bool owned = false;
    daemon->callMethod("NameHasOwner")
        .onInterface("org.freedesktop.DBus")
        .withArguments(bus::kServiceName)
        .storeResultsTo(owned);
    if (owned || !orActivatable) return owned;
    std::vector<std::string> activatable;
    daemon->callMethod("ListActivatableNames").onInterface("org.freedesktop.DBus").storeResultsTo(activatable);
    return std::find(activatable.begin(), activatable.end(), bus::kServiceName) != activatable.end();
  } catch (const sdbus::Error&) {
    return false;
  }
}

}  // namespace

bool FirewallBusClient::ServiceAvailable() { return ServiceOnBus(true); }

bool FirewallBusClient::ServiceRunning() { return ServiceOnBus(false); }

template <class Call>
Status FirewallBusClient::Read(Call call) {
  try {
    call();
    return {};
  } catch (const sdbus::Error& error) {
    return bus::StatusOf(error);
  }
}

template <class Call>
Status FirewallBusClient::Change(Call call) {
  const Status status = Read(call);
  if (!status.ok() && m_report) m_report(status.reason());
  return status;
}

Status FirewallBusClient::Ping() {
  return Read([&] { m_proxy->Ping(); });
}

Result<bool> FirewallBusClient::ReadFirewallEnabled() {
  bool on = false;
  if (Status status = Read([&] { on = m_proxy->GetFirewallEnabled(); }); !status.ok()) return status;
  return on;
}

Status FirewallBusClient::WriteFirewallEnabled(bool on) {
  return Change([&] { m_proxy->SetFirewallEnabled(on); });
}

Status FirewallBusClient::Find(const AppKey& key, std::optional<AppRecord>* entry) {
  entry->reset();
  std::string path;
  if (const Status status = Send(key, "the path", &path); !status.ok()) return status;
  return Read([&] {
    const auto [found, name, enabled] = m_proxy->GetApplication(path);
    if (found) *entry = AppRecord{key, Received(name), enabled};
  });
}

Status FirewallBusClient::Find(const PortKey& key, std::optional<PortRecord>* entry) {
  entry->reset();
  return Read([&] {
    const auto [found, name, enabled] = m_proxy->GetPort(key.number, key.protocol);
    if (found) *entry = PortRecord{key, Received(name), enabled};
  });
}

Status FirewallBusClient::List(std::vector<AppRecord>* entries) {
  entries->clear();
  return Read([&] {
    for (const auto& entry : m_proxy->ListApplications())
      entries->push_back(AppRecord{Received(std::get<0>(entry)), Received(std::get<1>(entry)), std::get<2>(entry)});
  });
}

Status FirewallBusClient::List(std::vector<PortRecord>* entries) {
  entries->clear();
  return Read([&] {
    for (const auto& entry : m_proxy->ListPorts())
      entries->push_back(PortRecord{PortKey{std::get<0>(entry), std::get<1>(entry)}, Received(std::get<2>(entry)),
                                    std::get<3>(entry)});
  });
}

Status FirewallBusClient::Add(const AppRecord& entry) {
  std::string path, name;
  Status status = Send(entry.key, "the path", &path);
  if (status.ok()) status = Send(entry.name, "the name", &name);
  if (!status.ok()) return status;
  return Change([&] { m_proxy->AddApplication(path, name, entry.enabled); });
}

Status FirewallBusClient::Add(const PortRecord& entry) {
  std::string name;
  if (const Status status = Send(entry.name, "the name", &name); !status.ok()) return status;
  return Change([&] { m_proxy->AddPort(entry.key.number, entry.key.protocol, name, entry.enabled); });
}

Status FirewallBusClient::Remove(const AppKey& key) {
  std::string path;
  if (const Status status = Send(key, "the path", &path); !status.ok()) return status;
  return Change([&] { m_proxy->RemoveApplication(path); });
}

Status FirewallBusClient::Remove(const PortKey& key) {
  return Change([&] { m_proxy->RemovePort(key.number, key.protocol); });
}

Status FirewallBusClient::Update(const AppKey& key, const EntryChange& change) {
  std::string path, name;
  Status status = Send(key, "the path", &path);
  if (status.ok() && change.name) status = Send(*change.name, "the name", &name);
  if (!status.ok()) return status;
  return Change([&] {
    if (change.name) m_proxy->SetApplicationName(path, name);
    if (change.enabled) m_proxy->SetApplicationEnabled(path, *change.enabled);
  });
}

Status FirewallBusClient::Update(const PortKey& key, const EntryChange& change) {
  std::string name;
  if (change.name)
    if (const Status status = Send(*change.name, "the name", &name); !status.ok()) return status;
  return Change([&] {
    if (change.name) m_proxy->SetPortName(key.number, key.protocol, name);
    if (change.enabled) m_proxy->SetPortEnabled(key.number, key.protocol, *change.enabled);
  });
}

Status FirewallBusClient::ApplyAll() {
  return Change([&] { m_proxy->Apply(); });
}

Status FirewallBusClient::Enforcement(std::string* enforcement) {
  return Read([&] { *enforcement = m_proxy->Enforcement(); });
}
