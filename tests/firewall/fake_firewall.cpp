#include "tests/firewall/fake_firewall.h"

#include <algorithm>
#include <functional>

#include "firewall/com/com_object.h"
#include "firewall/com/com_runtime.h"

namespace {

constexpr HRESULT kInjected = E_FAIL;

std::u16string Text(BSTR text) { return std::u16string(text ? text : u"", SysStringLen(text)); }

HRESULT Out(const std::u16string& text, BSTR* out) {
  *out = SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
  return S_OK;
}

// Every fake object knows the fake and names its calls after its interface.
template <class Interface>
class FakeObject : public ComObject<Interface> {
 public:
  FakeObject(FakeFirewall& fake, std::string prefix) : m_fake(fake), m_prefix(std::move(prefix)) {}

 protected:
  bool Fails(const char* method) { return m_fake.Failing(m_prefix + "::" + method); }
  FakeFirewall& m_fake;

 private:
  std::string m_prefix;
};

// An entry either stands alone (new from its factory) or names an entry of the fake; what
// both kinds of entry share.
template <class Interface, class Record>
class FakeEntry : public FakeObject<Interface> {
 public:
  using FakeObject<Interface>::FakeObject;
  HRESULT get_Name(BSTR* name) override { return this->Fails("get_Name") ? kInjected : Out(Entry().name, name); }
  HRESULT put_Name(BSTR name) override {
    return this->Fails("put_Name") ? kInjected : (Entry().name = Text(name), S_OK);
  }
  HRESULT get_IpVersion(NET_FW_IP_VERSION* version) override { return *version = NET_FW_IP_VERSION_ANY, S_OK; }
  HRESULT get_Scope(NET_FW_SCOPE* scope) override { return *scope = NET_FW_SCOPE_ALL, S_OK; }
  HRESULT get_Enabled(VARIANT_BOOL* enabled) override {
    return this->Fails("get_Enabled") ? kInjected : (*enabled = Entry().enabled, S_OK);
  }
  HRESULT put_Enabled(VARIANT_BOOL enabled) override {
    return this->Fails("put_Enabled") ? kInjected : (Entry().enabled = enabled, S_OK);
  }

 protected:
  // The fake's entry with this entry's key, or the entry's own values.
  virtual Record& Entry() = 0;
};

class FakeApp final : public FakeEntry<INetFwAuthorizedApplication, FakeFirewall::App> {
 public:
  FakeApp(FakeFirewall& fake, const std::u16string* storedPath)
      : FakeEntry(fake, "INetFwAuthorizedApplication"), m_stored(storedPath != nullptr) {
    m_own = {storedPath ? *storedPath : u"", u"", VARIANT_TRUE};
  }
  HRESULT get_ProcessImageFileName(BSTR* path) override {
    return Fails("get_ProcessImageFileName") ? kInjected : Out(Entry().path, path);
  }
  HRESULT put_ProcessImageFileName(BSTR path) override {
    return Fails("put_ProcessImageFileName") ? kInjected : (Entry().path = Text(path), S_OK);
  }

 private:
  FakeFirewall::App& Entry() override {
    if (!m_stored) return m_own;
    auto it = std::find_if(m_fake.apps.begin(), m_fake.apps.end(), [&](auto& a) { return a.path == m_own.path; });
    return it == m_fake.apps.end() ? m_own : *it;
  }
  bool m_stored;
  FakeFirewall::App m_own;
};

class FakePort final : public FakeEntry<INetFwOpenPort, FakeFirewall::Port> {
 public:
  FakePort(FakeFirewall& fake, const FakeFirewall::Port* stored)
      : FakeEntry(fake, "INetFwOpenPort"), m_stored(stored != nullptr) {
    m_own = stored ? *stored : FakeFirewall::Port{0, NET_FW_IP_PROTOCOL_TCP, u"", VARIANT_TRUE};
  }
  HRESULT get_Protocol(NET_FW_IP_PROTOCOL* protocol) override {
    return Fails("get_Protocol") ? kInjected : (*protocol = static_cast<NET_FW_IP_PROTOCOL>(Entry().protocol), S_OK);
  }
  HRESULT put_Protocol(NET_FW_IP_PROTOCOL protocol) override {
    return Fails("put_Protocol") ? kInjected : (Entry().protocol = protocol, S_OK);
  }
  HRESULT get_Port(LONG* port) override { return Fails("get_Port") ? kInjected : (*port = Entry().number, S_OK); }
  HRESULT put_Port(LONG port) override { return Fails("put_Port") ? kInjected : (Entry().number = port, S_OK); }

 private:
  FakeFirewall::Port& Entry() override {
    if (!m_stored) return m_own;
    auto it = std::find_if(m_fake.ports.begin(), m_fake.ports.end(),
                           [&](auto& p) { return p.number == m_own.number && p.protocol == m_own.protocol; });
    return it == m_fake.ports.end() ? m_own : *it;
  }
  bool m_stored;
  FakeFirewall::Port m_own;
};

class FakeEnumerator final : public FakeObject<IEnumVARIANT> {
 public:
  FakeEnumerator(FakeFirewall& fake, std::vector<IDispatch*> entries)
      : FakeObject(fake, "IEnumVARIANT"), m_entries(std::move(entries)) {}
  ~FakeEnumerator() override {
    for (IDispatch* entry : m_entries) entry->Release();
  }
  HRESULT Next(ULONG count, VARIANT* elements, ULONG*) override {
    if (count != 1 || m_position == m_entries.size()) return S_FALSE;
    elements->vt = VT_DISPATCH;
    elements->pdispVal = m_entries[m_position++];
    elements->pdispVal->AddRef();
    return S_OK;
  }
  HRESULT Reset() override { return m_position = 0, S_OK; }

 private:
  std::vector<IDispatch*> m_entries;
  std::size_t m_position = 0;
};

class FakeApps final : public FakeObject<INetFwAuthorizedApplications> {
 public:
  explicit FakeApps(FakeFirewall& fake) : FakeObject(fake, "INetFwAuthorizedApplications") {}
  HRESULT Add(INetFwAuthorizedApplication* app) override {
    if (Fails("Add")) return kInjected;
    BSTR path = nullptr, name = nullptr;
    VARIANT_BOOL enabled = VARIANT_FALSE;
    app->get_ProcessImageFileName(&path);
    app->get_Name(&name);
    app->get_Enabled(&enabled);
    FakeFirewall::App entry{Text(path), Text(name), enabled};
    SysFreeString(path);
    SysFreeString(name);
    auto it = Find(entry.path);
    if (it != m_fake.apps.end())
      *it = entry;
    else
      m_fake.apps.push_back(entry);
    return S_OK;
  }
  HRESULT Remove(BSTR path) override {
    if (Fails("Remove")) return kInjected;
    auto it = Find(Text(path));
    if (it != m_fake.apps.end()) m_fake.apps.erase(it);
    return S_OK;
  }
  HRESULT Item(BSTR path, INetFwAuthorizedApplication** app) override {
    *app = nullptr;
    if (Fails("Item")) return kInjected;
    if (Find(Text(path)) == m_fake.apps.end()) return HRESULT_NOT_FOUND;
    const std::u16string key = Text(path);
    *app = new FakeApp(m_fake, &key);
    return S_OK;
  }
  HRESULT get__NewEnum(IUnknown** newEnum) override {
    if (Fails("get__NewEnum")) return kInjected;
    std::vector<IDispatch*> entries;
    for (const auto& app : m_fake.apps) entries.push_back(new FakeApp(m_fake, &app.path));
    *newEnum = new FakeEnumerator(m_fake, std::move(entries));
    return S_OK;
  }

 private:
  std::vector<FakeFirewall::App>::iterator Find(const std::u16string& path) {
    return std::find_if(m_fake.apps.begin(), m_fake.apps.end(), [&](auto& a) { return a.path == path; });
  }
};

class FakePorts final : public FakeObject<INetFwOpenPorts> {
 public:
  explicit FakePorts(FakeFirewall& fake) : FakeObject(fake, "INetFwOpenPorts") {}
  HRESULT Add(INetFwOpenPort* port) override {
    if (Fails("Add")) return kInjected;
    FakeFirewall::Port entry{};
    NET_FW_IP_PROTOCOL protocol{};
    BSTR name = nullptr;
    port->get_Port(&entry.number);
    port->get_Protocol(&protocol);
    port->get_Name(&name);
    port->get_Enabled(&entry.enabled);
    entry.protocol = protocol;
    entry.name = Text(name);
    SysFreeString(name);
    auto it = Find(entry.number, entry.protocol);
    if (it != m_fake.ports.end())
      *it = entry;
    else
      m_fake.ports.push_back(entry);
    return S_OK;
  }
  HRESULT Remove(LONG number, NET_FW_IP_PROTOCOL protocol) override {
    if (Fails("Remove")) return kInjected;
    auto it = Find(number, protocol);
    if (it != m_fake.ports.end()) m_fake.ports.erase(it);
    return S_OK;
  }
  HRESULT Item(LONG number, NET_FW_IP_PROTOCOL protocol, INetFwOpenPort** port) override {
    *port = nullptr;
    if (Fails("Item")) return kInjected;
    auto it = Find(number, protocol);
    if (it == m_fake.ports.end()) return HRESULT_NOT_FOUND;
    *port = new FakePort(m_fake, &*it);
    return S_OK;
  }
  HRESULT get__NewEnum(IUnknown** newEnum) override {
    if (Fails("get__NewEnum")) return kInjected;
    std::vector<IDispatch*> entries;
    for (const auto& port : m_fake.ports) entries.push_back(new FakePort(m_fake, &port));
    *newEnum = new FakeEnumerator(m_fake, std::move(entries));
    return S_OK;
  }

 private:
  std::vector<FakeFirewall::Port>::iterator Find(LONG number, LONG protocol) {
    return std::find_if(m_fake.ports.begin(), m_fake.ports.end(),
                        [&](auto& p) { return p.number == number && p.protocol == protocol; });
  }
};

class FakeProfile final : public FakeObject<INetFwProfile> {
 public:
  explicit FakeProfile(FakeFirewall& fake) : FakeObject(fake, "INetFwProfile") {}
  HRESULT get_FirewallEnabled(VARIANT_BOOL* enabled) override {
    return Fails("get_FirewallEnabled") ? kInjected : (*enabled = m_fake.firewallEnabled, S_OK);
  }
  HRESULT put_FirewallEnabled(VARIANT_BOOL enabled) override {
    return Fails("put_FirewallEnabled") ? kInjected : (m_fake.firewallEnabled = enabled, S_OK);
  }
  HRESULT get_AuthorizedApplications(INetFwAuthorizedApplications** apps) override {
    return Fails("get_AuthorizedApplications") ? kInjected : (*apps = new FakeApps(m_fake), S_OK);
  }
  HRESULT get_GloballyOpenPorts(INetFwOpenPorts** ports) override {
    return Fails("get_GloballyOpenPorts") ? kInjected : (*ports = new FakePorts(m_fake), S_OK);
  }
};

class FakePolicy final : public FakeObject<INetFwPolicy> {
 public:
  explicit FakePolicy(FakeFirewall& fake) : FakeObject(fake, "INetFwPolicy") {}
  HRESULT get_CurrentProfile(INetFwProfile** profile) override {
    return Fails("get_CurrentProfile") ? kInjected : (*profile = new FakeProfile(m_fake), S_OK);
  }
};

class FakeManager final : public FakeObject<INetFwMgr> {
 public:
  explicit FakeManager(FakeFirewall& fake) : FakeObject(fake, "INetFwMgr") {}
  HRESULT get_LocalPolicy(INetFwPolicy** policy) override {
    return Fails("get_LocalPolicy") ? kInjected : (*policy = new FakePolicy(m_fake), S_OK);
  }
};

class FakeFactory final : public ComObject<IClassFactory> {
 public:
  FakeFactory(FakeFirewall& fake, std::string call, std::function<IUnknown*()> create)
      : m_fake(fake), m_call(std::move(call)), m_create(std::move(create)) {}
  HRESULT CreateInstance(IUnknown*, REFIID riid, void** object) override {
    *object = nullptr;
    if (m_fake.Failing(m_call)) return kInjected;
    IUnknown* created = m_create();
    const HRESULT hr = created->QueryInterface(riid, object);
    created->Release();
    return hr;
  }

 private:
  FakeFirewall& m_fake;
  std::string m_call;
  std::function<IUnknown*()> m_create;
};

}  // namespace

FakeFirewall::FakeFirewall() {
  const auto add = [this](const CLSID& clsid, const std::string& name, std::function<IUnknown*()> create) {
    auto* factory = new FakeFactory(*this, "CoCreateInstance(" + name + ")", std::move(create));
    DWORD cookie = 0;
    CoRegisterClassObject(clsid, factory, &cookie);
    factory->Release();
    m_cookies.push_back(cookie);
  };
  add(CLSID_NetFwMgr, "NetFwMgr", [this] { return static_cast<IUnknown*>(new FakeManager(*this)); });
  add(CLSID_NetFwAuthorizedApplication, "NetFwAuthorizedApplication",
      [this] { return static_cast<IUnknown*>(new FakeApp(*this, nullptr)); });
  add(CLSID_NetFwOpenPort, "NetFwOpenPort", [this] { return static_cast<IUnknown*>(new FakePort(*this, nullptr)); });
}

FakeFirewall::~FakeFirewall() {
  for (const DWORD cookie : m_cookies) CoRevokeClassObject(cookie);
}

void FakeFirewall::Fail(const std::string& call, int times, int after) { m_failures[call] = {times, after}; }

int FakeFirewall::Calls(const std::string& call) const {
  auto it = m_calls.find(call);
  return it == m_calls.end() ? 0 : it->second;
}

bool FakeFirewall::Failing(const std::string& call) {
  ++m_calls[call];
  auto it = m_failures.find(call);
  if (it == m_failures.end() || it->second.times == 0) return false;
  if (it->second.after > 0) {
    --it->second.after;
    return false;
  }
  if (it->second.times > 0) --it->second.times;
  return true;
}
