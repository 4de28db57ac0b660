#include "firewall/bus/firewall_bus_client.h"

#include <sdbus-c++/sdbus-c++.h>

#include <algorithm>
#include <chrono>
#include <utility>

#include "firewall/bus/bus_protocol.h"
#include "firewall/bus/firewall1_proxy.h"
#include "firewall/com/com_runtime.h"

namespace {

// A change waits while polkit asks for a password.
constexpr std::chrono::microseconds kCallTimeout = std::chrono::minutes(2);

HRESULT Unsendable(const char* what) {
  SetErrorInfoText(std::string(what) + " cannot be sent to the firewall service: it is not Unicode text without NUL");
  return E_INVALIDARG;
}

// The text as it crosses the bus, or the failure that it cannot.
HRESULT Send(const std::u16string& text, const char* what, std::string* out) {
  auto utf8 = bus::Utf8(text);
  if (!utf8) return Unsendable(what);
  *out = *std::move(utf8);
  return S_OK;
}

std::u16string Received(const std::string& text) { return bus::Utf16(text).value_or(std::u16string()); }

// A lookup that found no entry succeeded: the entry is left empty.
HRESULT AbsenceIsNoFailure(HRESULT hr) {
  if (hr != HRESULT_NOT_FOUND) return hr;
  TakeErrorInfoText();
  return S_OK;
}

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

HRESULT FirewallBusClient::Connect(std::shared_ptr<FirewallBusClient>* client, FailureReport report) {
  std::unique_ptr<sdbus::IConnection> connection;
  const HRESULT hr = bus::ConnectSystemBus(&connection);
  if (FAILED(hr)) return hr;
  connection->setMethodCallTimeout(kCallTimeout);
  client->reset(new FirewallBusClient(std::move(connection), std::move(report)));
  return S_OK;
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
HRESULT FirewallBusClient::Read(Call call) {
  try {
    return call();
  } catch (const sdbus::Error& error) {
    return bus::ResultOf(error);
  }
}

template <class Call>
HRESULT FirewallBusClient::Change(Call call) {
  const HRESULT hr = Read(call);
  if (FAILED(hr) && m_report) {
    std::string reason = TakeErrorInfoText();
    m_report(reason);
    SetErrorInfoText(std::move(reason));
  }
  return hr;
}

HRESULT FirewallBusClient::Ping() {
  return Read([&] {
    m_proxy->Ping();
    return S_OK;
  });
}

HRESULT FirewallBusClient::ReadFirewallEnabled(bool* on) {
  return Read([&] {
    *on = m_proxy->GetFirewallEnabled();
    return S_OK;
  });
}

HRESULT FirewallBusClient::WriteFirewallEnabled(bool on) {
  return Change([&] {
    m_proxy->SetFirewallEnabled(on);
    return S_OK;
  });
}

HRESULT FirewallBusClient::Find(const AppKey& key, std::optional<AppRecord>* entry) {
  entry->reset();
  std::string path;
  if (const HRESULT hr = Send(key, "the path", &path); FAILED(hr)) return hr;
  return AbsenceIsNoFailure(Read([&] {
    const auto [name, enabled] = m_proxy->GetApplication(path);
    *entry = AppRecord{key, Received(name), enabled};
    return S_OK;
  }));
}

HRESULT FirewallBusClient::Find(const PortKey& key, std::optional<PortRecord>* entry) {
  entry->reset();
  return AbsenceIsNoFailure(Read([&] {
    const auto [name, enabled] = m_proxy->GetPort(key.number, key.protocol);
    *entry = PortRecord{key, Received(name), enabled};
    return S_OK;
  }));
}

HRESULT FirewallBusClient::List(std::vector<AppRecord>* entries) {
  entries->clear();
  return Read([&] {
    for (const auto& entry : m_proxy->ListApplications())
      entries->push_back(AppRecord{Received(std::get<0>(entry)), Received(std::get<1>(entry)), std::get<2>(entry)});
    return S_OK;
  });
}

HRESULT FirewallBusClient::List(std::vector<PortRecord>* entries) {
  entries->clear();
  return Read([&] {
    for (const auto& entry : m_proxy->ListPorts())
      entries->push_back(PortRecord{PortKey{std::get<0>(entry), std::get<1>(entry)}, Received(std::get<2>(entry)),
                                    std::get<3>(entry)});
    return S_OK;
  });
}

HRESULT FirewallBusClient::Add(const AppRecord& entry) {
  std::string path, name;
  HRESULT hr = Send(entry.key, "the path", &path);
  if (SUCCEEDED(hr)) hr = Send(entry.name, "the name", &name);
  if (FAILED(hr)) return hr;
  return Change([&] {
    m_proxy->AddApplication(path, name, entry.enabled);
    return S_OK;
  });
}

HRESULT FirewallBusClient::Add(const PortRecord& entry) {
  std::string name;
  if (const HRESULT hr = Send(entry.name, "the name", &name); FAILED(hr)) return hr;
  return Change([&] {
    m_proxy->AddPort(entry.key.number, entry.key.protocol, name, entry.enabled);
    return S_OK;
  });
}

HRESULT FirewallBusClient::Remove(const AppKey& key) {
  std::string path;
  if (const HRESULT hr = Send(key, "the path", &path); FAILED(hr)) return hr;
  return Change([&] {
    m_proxy->RemoveApplication(path);
    return S_OK;
  });
}

HRESULT FirewallBusClient::Remove(const PortKey& key) {
  return Change([&] {
    m_proxy->RemovePort(key.number, key.protocol);
    return S_OK;
  });
}

HRESULT FirewallBusClient::Update(const AppKey& key, const EntryChange& change) {
  std::string path, name;
  HRESULT hr = Send(key, "the path", &path);
  if (SUCCEEDED(hr) && change.name) hr = Send(*change.name, "the name", &name);
  if (FAILED(hr)) return hr;
  return Change([&] {
    if (change.name) m_proxy->SetApplicationName(path, name);
    if (change.enabled) m_proxy->SetApplicationEnabled(path, *change.enabled);
    return S_OK;
  });
}

HRESULT FirewallBusClient::Update(const PortKey& key, const EntryChange& change) {
  std::string name;
  if (change.name)
    if (const HRESULT hr = Send(*change.name, "the name", &name); FAILED(hr)) return hr;
  return Change([&] {
    if (change.name) m_proxy->SetPortName(key.number, key.protocol, name);
    if (change.enabled) m_proxy->SetPortEnabled(key.number, key.protocol, *change.enabled);
    return S_OK;
  });
}

HRESULT FirewallBusClient::ApplyAll() {
  return Change([&] {
    m_proxy->Apply();
    return S_OK;
  });
}

HRESULT FirewallBusClient::Enforcement(std::string* enforcement) {
  return Read([&] {
    *enforcement = m_proxy->Enforcement();
    return S_OK;
  });
}
