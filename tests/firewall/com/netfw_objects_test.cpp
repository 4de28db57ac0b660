// The object model over the store, as the firewall operations and other callers see it.
#include <gtest/gtest.h>
#include <unistd.h>

#include "firewall/com/com_object.h"
#include "firewall/com/com_ptr.h"
#include "firewall/com/com_runtime.h"
#include "firewall/com/firewall_configuration.h"
#include "firewall/com/netfw.h"
#include "firewall/local_registration.h"
#include "firewall/open_firewall.h"
#include "tests/firewall/recording_enforcer.h"
#include "tests/support/status_kind.h"
#include "tests/support/temp_dir.h"

namespace {

template <class T>
ComPtr<T> Create(const CLSID& clsid) {
  ComPtr<T> object;
  EXPECT_EQ(CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, T::iid, object.ReleaseAndGetVoidAddress()), S_OK);
  return object;
}

UniqueBstr Bstr(const char16_t* text) { return UniqueBstr(SysAllocString(text)); }

std::u16string NameOf(INetFwOpenPort* port) {
  BSTR name = nullptr;
  EXPECT_EQ(port->get_Name(&name), S_OK);
  const UniqueBstr holder(name);
  return std::u16string(name, SysStringLen(name));
}

class ObjectModelTest : public ::testing::Test {
 protected:
  void SetUp() override {
    CoInitialize(nullptr);
    m_objects = ComObjectsInUse();
    ASSERT_TRUE(RegisterLocalFirewall(m_dir.File("firewall.db"), m_enforcer).ok());
    auto manager = Create<INetFwMgr>(CLSID_NetFwMgr);
    ComPtr<INetFwPolicy> policy;
    ASSERT_EQ(manager->get_LocalPolicy(policy.ReleaseAndGetAddressOf()), S_OK);
    ASSERT_EQ(policy->get_CurrentProfile(m_profile.ReleaseAndGetAddressOf()), S_OK);
    ASSERT_EQ(m_profile->get_GloballyOpenPorts(m_ports.ReleaseAndGetAddressOf()), S_OK);
    ASSERT_EQ(m_profile->get_AuthorizedApplications(m_apps.ReleaseAndGetAddressOf()), S_OK);
  }
  void TearDown() override {
    m_ports.Reset();
    m_apps.Reset();
    m_profile.Reset();
    RevokeFirewallClasses();
    EXPECT_EQ(ComObjectsInUse(), m_objects);  // nothing of the model outlives its users
  }

  ComPtr<INetFwOpenPort> NewPort(LONG number, NET_FW_IP_PROTOCOL protocol, const char16_t* name) {
    auto port = Create<INetFwOpenPort>(CLSID_NetFwOpenPort);
    EXPECT_EQ(port->put_Port(number), S_OK);
    EXPECT_EQ(port->put_Protocol(protocol), S_OK);
    EXPECT_EQ(port->put_Name(Bstr(name).get()), S_OK);
    return port;
  }

  TempDir m_dir;
  std::shared_ptr<RecordingEnforcer> m_enforcer = std::make_shared<RecordingEnforcer>();
  ComPtr<INetFwProfile> m_profile;
  ComPtr<INetFwOpenPorts> m_ports;
  ComPtr<INetFwAuthorizedApplications> m_apps;
  std::size_t m_objects = 0;
};

TEST_F(ObjectModelTest, CreatingTheManagerAppliesTheStoreToTheKernel) {
  EXPECT_EQ(m_enforcer->calls, std::vector<std::string>{"replace off"});
  VARIANT_BOOL on = VARIANT_TRUE;
  EXPECT_EQ(m_profile->get_FirewallEnabled(&on), S_OK);
  EXPECT_EQ(on, VARIANT_FALSE);
}

TEST_F(ObjectModelTest, NewEntriesAreEnabledForAnyAddressAndCheckWhatTheyAreGiven) {
  auto app = Create<INetFwAuthorizedApplication>(CLSID_NetFwAuthorizedApplication);
  auto port = Create<INetFwOpenPort>(CLSID_NetFwOpenPort);
  VARIANT_BOOL enabled = VARIANT_FALSE;
  NET_FW_SCOPE scope = NET_FW_SCOPE_CUSTOM;
  NET_FW_IP_VERSION version = NET_FW_IP_VERSION_V4;
  EXPECT_EQ(app->get_Enabled(&enabled), S_OK);
  EXPECT_EQ(enabled, VARIANT_TRUE);
  EXPECT_EQ(app->get_Scope(&scope), S_OK);
  EXPECT_EQ(scope, NET_FW_SCOPE_ALL);
  EXPECT_EQ(port->get_IpVersion(&version), S_OK);
  EXPECT_EQ(version, NET_FW_IP_VERSION_ANY);

  for (LONG refused : {0, -1, 65536}) EXPECT_EQ(port->put_Port(refused), E_INVALIDARG) << refused;
  for (LONG accepted : {1, 65535}) EXPECT_EQ(port->put_Port(accepted), S_OK) << accepted;
  for (int refused : {0, 1, 99}) EXPECT_EQ(port->put_Protocol(static_cast<NET_FW_IP_PROTOCOL>(refused)), E_INVALIDARG);
  EXPECT_EQ(port->put_Protocol(NET_FW_IP_PROTOCOL_UDP), S_OK);
  EXPECT_EQ(port->put_Name(Bstr(u"").get()), E_INVALIDARG);
  for (const char16_t* refused : {u"", u"relative/bin", u"~/bin/x", u"/", u"//./", u"/usr/../bin/x"})
    EXPECT_EQ(app->put_ProcessImageFileName(Bstr(refused).get()), E_INVALIDARG);
  EXPECT_EQ(app->put_ProcessImageFileName(nullptr), E_INVALIDARG);
  // A path is kept as the one file it names, so that it can match that file's processes.
  EXPECT_EQ(app->put_ProcessImageFileName(Bstr(u"//usr//bin/./python3/").get()), S_OK);
  BSTR normal = nullptr;
  EXPECT_EQ(app->get_ProcessImageFileName(&normal), S_OK);
  EXPECT_EQ(std::u16string(normal, SysStringLen(normal)), u"/usr/bin/python3");
  SysFreeString(normal);
  EXPECT_EQ(app->put_ProcessImageFileName(Bstr(u"/usr/bin/x").get()), S_OK);

  // Added without a name: the collection refuses an entry it could not show.
  EXPECT_EQ(m_apps->Add(app.Get()), E_INVALIDARG);
  EXPECT_EQ(m_ports->Add(port.Get()), E_INVALIDARG);
}

TEST_F(ObjectModelTest, ItemFailsExactlyForAnAbsentKey) {
  ASSERT_EQ(m_ports->Add(NewPort(80, NET_FW_IP_PROTOCOL_TCP, u"web").Get()), S_OK);
  ComPtr<INetFwOpenPort> found;
  EXPECT_EQ(m_ports->Item(80, NET_FW_IP_PROTOCOL_TCP, found.ReleaseAndGetAddressOf()), S_OK);
  EXPECT_EQ(NameOf(found.Get()), u"web");
  EXPECT_EQ(m_ports->Item(80, NET_FW_IP_PROTOCOL_UDP, found.ReleaseAndGetAddressOf()), HRESULT_NOT_FOUND);
  EXPECT_EQ(found.Get(), nullptr);
  ComPtr<INetFwAuthorizedApplication> app;
  EXPECT_EQ(m_apps->Item(Bstr(u"/usr/bin/none").get(), app.ReleaseAndGetAddressOf()), HRESULT_NOT_FOUND);
  EXPECT_EQ(app.Get(), nullptr);
  EXPECT_EQ(m_ports->Remove(81, NET_FW_IP_PROTOCOL_TCP), S_OK);
}

TEST_F(ObjectModelTest, AStoredEntryWritesThroughButKeepsItsKey) {
  ASSERT_EQ(m_ports->Add(NewPort(80, NET_FW_IP_PROTOCOL_TCP, u"web").Get()), S_OK);
  ComPtr<INetFwOpenPort> stored;
  ASSERT_EQ(m_ports->Item(80, NET_FW_IP_PROTOCOL_TCP, stored.ReleaseAndGetAddressOf()), S_OK);
  EXPECT_EQ(stored->put_Port(81), E_ACCESSDENIED);
  EXPECT_EQ(stored->put_Protocol(NET_FW_IP_PROTOCOL_UDP), E_ACCESSDENIED);
  EXPECT_EQ(stored->put_Enabled(VARIANT_FALSE), S_OK);
  EXPECT_EQ(stored->put_Name(Bstr(u"renamed").get()), S_OK);
  ComPtr<INetFwOpenPort> again;
  ASSERT_EQ(m_ports->Item(80, NET_FW_IP_PROTOCOL_TCP, again.ReleaseAndGetAddressOf()), S_OK);
  VARIANT_BOOL enabled = VARIANT_TRUE;
  EXPECT_EQ(again->get_Enabled(&enabled), S_OK);
  EXPECT_EQ(enabled, VARIANT_FALSE);
  EXPECT_EQ(NameOf(again.Get()), u"renamed");

  // Once removed, the entry has no row left to write to.
  EXPECT_EQ(m_ports->Remove(80, NET_FW_IP_PROTOCOL_TCP), S_OK);
  EXPECT_EQ(again->put_Enabled(VARIANT_TRUE), HRESULT_NOT_FOUND);

  auto app = Create<INetFwAuthorizedApplication>(CLSID_NetFwAuthorizedApplication);
  ASSERT_EQ(app->put_ProcessImageFileName(Bstr(u"/usr/bin/a").get()), S_OK);
  ASSERT_EQ(app->put_Name(Bstr(u"a").get()), S_OK);
  ASSERT_EQ(m_apps->Add(app.Get()), S_OK);
  ComPtr<INetFwAuthorizedApplication> storedApp;
  ASSERT_EQ(m_apps->Item(Bstr(u"/usr/bin/a").get(), storedApp.ReleaseAndGetAddressOf()), S_OK);
  EXPECT_EQ(storedApp->put_ProcessImageFileName(Bstr(u"/usr/bin/b").get()), E_ACCESSDENIED);
}

TEST_F(ObjectModelTest, TheEnumeratorDeliversEachEntryOnceUntilReset) {
  for (LONG number : {443, 53, 8080})
    ASSERT_EQ(m_ports->Add(NewPort(number, NET_FW_IP_PROTOCOL_TCP, u"p").Get()), S_OK);
  ComPtr<IUnknown> newEnum;
  ASSERT_EQ(m_ports->get__NewEnum(newEnum.ReleaseAndGetAddressOf()), S_OK);
  ComPtr<IEnumVARIANT> entries;
  ASSERT_EQ(newEnum.As(&entries), S_OK);
  VARIANT elements[2];
  ULONG fetched = 0;
  std::vector<LONG> seen;
  const auto take = [&](ULONG count) {
    const HRESULT hr = entries->Next(count, elements, &fetched);
    for (ULONG i = 0; i < fetched; ++i) {
      EXPECT_EQ(elements[i].vt, VT_DISPATCH);
      ComPtr<INetFwOpenPort> port;
      EXPECT_EQ(elements[i].pdispVal->QueryInterface(IID_INetFwOpenPort, port.ReleaseAndGetVoidAddress()), S_OK);
      LONG number = 0;
      port->get_Port(&number);
      seen.push_back(number);
      VariantClear(&elements[i]);
    }
    return hr;
  };
  EXPECT_EQ(take(2), S_OK);
  EXPECT_EQ(take(2), S_FALSE);
  EXPECT_EQ(fetched, 1u);
  EXPECT_EQ(take(1), S_FALSE);
  EXPECT_EQ(fetched, 0u);
  EXPECT_EQ(entries->Reset(), S_OK);
  EXPECT_EQ(take(1), S_OK);
  EXPECT_EQ(seen, (std::vector<LONG>{443, 53, 8080, 443}));
}

TEST_F(ObjectModelTest, TheFactoriesRefuseAggregation) {
  void* object = nullptr;
  for (const CLSID& clsid : {CLSID_NetFwMgr, CLSID_NetFwOpenPort, CLSID_NetFwAuthorizedApplication}) {
    EXPECT_EQ(CoCreateInstance(clsid, m_profile.Get(), CLSCTX_INPROC_SERVER, IID_IUnknown, &object),
              CLASS_E_NOAGGREGATION);
    EXPECT_EQ(object, nullptr);
  }
}

// A configuration whose every call fails as the test says; it answers pings.
class FailingConfiguration final : public FirewallConfiguration {
 public:
  Status failure;

  Status Ping() override { return {}; }
  Result<bool> ReadFirewallEnabled() override { return failure; }
  Status WriteFirewallEnabled(bool) override { return failure; }
  Status Find(const AppKey&, std::optional<AppRecord>*) override { return failure; }
  Status Find(const PortKey&, std::optional<PortRecord>*) override { return failure; }
  Status List(std::vector<AppRecord>*) override { return failure; }
  Status List(std::vector<PortRecord>*) override { return failure; }
  Status Add(const AppRecord&) override { return failure; }
  Status Add(const PortRecord&) override { return failure; }
  Status Remove(const AppKey&) override { return failure; }
  Status Remove(const PortKey&) override { return failure; }
  Status Update(const AppKey&, const EntryChange&) override { return failure; }
  Status Update(const PortKey&, const EntryChange&) override { return failure; }
  Status ApplyAll() override { return failure; }
};

TEST(ComResultTest, EachKindOfFailureIsItsHresultWithTheReasonAsTheErrorText) {
  CoInitialize(nullptr);
  auto configuration = std::make_shared<FailingConfiguration>();
  Status opening = Busy("the store is locked");
  ASSERT_TRUE(RegisterFirewallClasses([&]() -> Result<std::shared_ptr<FirewallConfiguration>> {
                if (!opening.ok()) return opening;
                return std::shared_ptr<FirewallConfiguration>(configuration);
              }).ok());
  ComPtr<INetFwMgr> manager;
  EXPECT_EQ(CoCreateInstance(CLSID_NetFwMgr, nullptr, CLSCTX_INPROC_SERVER, IID_INetFwMgr,
                             manager.ReleaseAndGetVoidAddress()),
            HRESULT_BUSY);
  EXPECT_EQ(TakeErrorInfoText(), "the store is locked");

  opening = Status();
  manager = Create<INetFwMgr>(CLSID_NetFwMgr);
  ComPtr<INetFwPolicy> policy;
  ComPtr<INetFwProfile> profile;
  ComPtr<INetFwOpenPorts> ports;
  ASSERT_EQ(manager->get_LocalPolicy(policy.ReleaseAndGetAddressOf()), S_OK);
  ASSERT_EQ(policy->get_CurrentProfile(profile.ReleaseAndGetAddressOf()), S_OK);
  ASSERT_EQ(profile->get_GloballyOpenPorts(ports.ReleaseAndGetAddressOf()), S_OK);
  const struct {
    FailureKind kind;
    HRESULT hr;
  } cases[] = {{FailureKind::kNotFound, HRESULT_NOT_FOUND},
               {FailureKind::kAccessDenied, E_ACCESSDENIED},
               {FailureKind::kInvalidArgument, E_INVALIDARG},
               {FailureKind::kBusy, HRESULT_BUSY},
               {FailureKind::kFailed, E_FAIL}};
  for (const auto& c : cases) {
    configuration->failure = Status(c.kind, "why " + std::to_string(c.hr));
    VARIANT_BOOL on = VARIANT_TRUE;
    EXPECT_EQ(profile->get_FirewallEnabled(&on), c.hr);
    EXPECT_EQ(on, VARIANT_FALSE);
    EXPECT_EQ(TakeErrorInfoText(), "why " + std::to_string(c.hr));
    EXPECT_EQ(ports->Remove(80, NET_FW_IP_PROTOCOL_TCP), c.hr);
    EXPECT_EQ(TakeErrorInfoText(), "why " + std::to_string(c.hr));
  }
  // A success leaves the text of an earlier failure alone, for whoever has not taken it yet.
  SetErrorInfoText("earlier");
  configuration->failure = Status();
  EXPECT_EQ(ports->Remove(80, NET_FW_IP_PROTOCOL_TCP), S_OK);
  EXPECT_EQ(TakeErrorInfoText(), "earlier");
  RevokeFirewallClasses();
}

TEST(ServiceConfigurationTest, BackendsAreChosenByNameAndDescribed) {
  BackendChoice choice;
  const Status unknown = ChooseBackend("iptables", &choice);
  EXPECT_EQ(KindOf(unknown), FailureKind::kInvalidArgument);
  EXPECT_NE(unknown.reason().find("iptables"), std::string::npos);
  ASSERT_TRUE(ChooseBackend("store", &choice).ok());
  EXPECT_NE(dynamic_cast<StoreOnlyEnforcer*>(CreateEnforcer(&choice).get()), nullptr);
  EXPECT_EQ(choice.Description().rfind("store (chosen)", 0), 0u);
  ASSERT_TRUE(ChooseBackend("nftables", &choice).ok());
  EXPECT_EQ(choice.Description().rfind("nftables (chosen)", 0), 0u);
  EXPECT_EQ(KindOf(RegisterFirewall(FirewallSettings{"", "pf"})), FailureKind::kInvalidArgument);
  ASSERT_TRUE(ChooseBackend("service", &choice).ok());
  EXPECT_EQ(RulesText(choice.backend), "Rules: enforced by brenvod");
}

TEST(ServiceConfigurationTest, TheDefaultStoreDependsOnWhoRunsBrenvo) {
  if (geteuid() == 0) {
    EXPECT_EQ(DefaultDatabasePath(), "/var/lib/brenvo/firewall.db");
    return;
  }
  setenv("XDG_STATE_HOME", "/tmp/state", 1);
  EXPECT_EQ(DefaultDatabasePath(), "/tmp/state/brenvo/firewall.db");
  unsetenv("XDG_STATE_HOME");
  setenv("HOME", "/home/someone", 1);
  EXPECT_EQ(DefaultDatabasePath(), "/home/someone/.local/state/brenvo/firewall.db");
}

}  // namespace
