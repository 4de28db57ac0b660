// Strings, variants, reference counting and the class registry.
#include <gtest/gtest.h>

#include <thread>

#include "firewall/com/com_object.h"
#include "firewall/com/com_ptr.h"
#include "firewall/com/com_runtime.h"
#include "firewall/com/netfw.h"

namespace {

TEST(BstrTest, KeepsItsLengthAndAnyCharacterAndCountsWhatIsInUse) {
  const std::size_t inUse = SysStringsInUse();
  const BSTR text = SysAllocString(u"caf\u00E9");
  EXPECT_EQ(SysStringLen(text), 4u);
  EXPECT_EQ(std::u16string(text), u"caf\u00E9");
  const char16_t withNull[] = {u'a', u'\0', u'b'};
  const BSTR counted = SysAllocStringLen(withNull, 3);
  EXPECT_EQ(SysStringLen(counted), 3u);
  EXPECT_EQ(counted[1], u'\0');
  EXPECT_EQ(counted[3], u'\0');  // terminated after the counted text too
  const BSTR empty = SysAllocString(u"");
  ASSERT_NE(empty, nullptr);
  EXPECT_EQ(SysStringLen(empty), 0u);
  EXPECT_EQ(SysAllocString(nullptr), nullptr);
  EXPECT_EQ(SysStringLen(nullptr), 0u);
  EXPECT_EQ(SysStringsInUse(), inUse + 3);
  SysFreeString(text);
  SysFreeString(counted);
  SysFreeString(empty);
  SysFreeString(nullptr);
  EXPECT_EQ(SysStringsInUse(), inUse);
}

// A port object standing in for any implementation, to watch its references.
class CountedPort final : public ComObject<INetFwOpenPort> {
 public:
  HRESULT get_Name(BSTR*) override { return E_FAIL; }
  HRESULT put_Name(BSTR) override { return E_FAIL; }
  HRESULT get_IpVersion(NET_FW_IP_VERSION*) override { return E_FAIL; }
  HRESULT get_Protocol(NET_FW_IP_PROTOCOL*) override { return E_FAIL; }
  HRESULT put_Protocol(NET_FW_IP_PROTOCOL) override { return E_FAIL; }
  HRESULT get_Port(LONG*) override { return E_FAIL; }
  HRESULT put_Port(LONG) override { return E_FAIL; }
  HRESULT get_Scope(NET_FW_SCOPE*) override { return E_FAIL; }
  HRESULT get_Enabled(VARIANT_BOOL*) override { return E_FAIL; }
  HRESULT put_Enabled(VARIANT_BOOL) override { return E_FAIL; }
};

TEST(ComObjectTest, AnswersForItsInterfacesOnlyAndDiesWithItsLastReference) {
  const std::size_t alive = ComObjectsInUse();
  ComPtr<INetFwOpenPort> port;
  port.Attach(new CountedPort);
  EXPECT_EQ(ComObjectsInUse(), alive + 1);
  for (const IID& iid : {IID_IUnknown, IID_IDispatch, IID_INetFwOpenPort}) {
    void* object = nullptr;
    EXPECT_EQ(port->QueryInterface(iid, &object), S_OK);
    static_cast<IUnknown*>(object)->Release();
  }
  void* object = reinterpret_cast<void*>(1);
  EXPECT_EQ(port->QueryInterface(IID_INetFwOpenPorts, &object), E_NOINTERFACE);
  EXPECT_EQ(object, nullptr);

  ComPtr<IDispatch> dispatch;
  EXPECT_EQ(port.As(&dispatch), S_OK);
  ComPtr<INetFwOpenPort> copy = port;
  port.Reset();
  dispatch.Reset();
  EXPECT_EQ(ComObjectsInUse(), alive + 1);
  VARIANT holder;
  VariantInit(&holder);
  holder.vt = VT_DISPATCH;
  holder.pdispVal = copy.Detach();
  EXPECT_EQ(VariantClear(&holder), S_OK);
  EXPECT_EQ(holder.vt, VT_EMPTY);
  EXPECT_EQ(ComObjectsInUse(), alive);
}

// A class whose objects can be told from the real ones.
class PortFactory final : public ComObject<IClassFactory> {
 public:
  HRESULT CreateInstance(IUnknown*, REFIID riid, void** object) override {
    ++created;
    auto* port = new CountedPort;
    const HRESULT hr = port->QueryInterface(riid, object);
    port->Release();
    return hr;
  }
  int created = 0;
};

TEST(ClassRegistryTest, TheLatestRegistrationWinsUntilItIsRevoked) {
  CoInitialize(nullptr);
  const std::size_t alive = ComObjectsInUse();
  ComPtr<PortFactory> first, second;
  first.Attach(new PortFactory);
  second.Attach(new PortFactory);
  DWORD firstCookie = 0, secondCookie = 0;
  ASSERT_EQ(CoRegisterClassObject(CLSID_NetFwOpenPort, first.Get(), &firstCookie), S_OK);
  ASSERT_EQ(CoRegisterClassObject(CLSID_NetFwOpenPort, second.Get(), &secondCookie), S_OK);

  ComPtr<INetFwOpenPort> port;
  EXPECT_EQ(CoCreateInstance(CLSID_NetFwOpenPort, nullptr, CLSCTX_INPROC_SERVER, IID_INetFwOpenPort,
                             port.ReleaseAndGetVoidAddress()),
            S_OK);
  EXPECT_EQ(second->created, 1);
  EXPECT_EQ(CoRevokeClassObject(secondCookie), S_OK);
  EXPECT_EQ(CoRevokeClassObject(secondCookie), E_INVALIDARG);
  EXPECT_EQ(CoCreateInstance(CLSID_NetFwOpenPort, nullptr, CLSCTX_INPROC_SERVER, IID_INetFwOpenPort,
                             port.ReleaseAndGetVoidAddress()),
            S_OK);
  EXPECT_EQ(first->created, 1);
  EXPECT_EQ(CoRevokeClassObject(firstCookie), S_OK);
  EXPECT_EQ(CoCreateInstance(CLSID_NetFwOpenPort, nullptr, CLSCTX_INPROC_SERVER, IID_INetFwOpenPort,
                             port.ReleaseAndGetVoidAddress()),
            REGDB_E_CLASSNOTREG);
  EXPECT_EQ(port.Get(), nullptr);
  first.Reset();
  second.Reset();
  EXPECT_EQ(ComObjectsInUse(), alive);  // the registry let go of both factories
}

TEST(ClassRegistryTest, ObjectsAreCreatedOnlyOnInitialisedThreadsAndErrorTextsStayOnTheirThread) {
  CoInitialize(nullptr);
  EXPECT_EQ(CoInitialize(nullptr), S_FALSE);
  SetErrorInfoText("main thread");
  std::thread([] {
    void* object = nullptr;
    EXPECT_EQ(CoCreateInstance(CLSID_NetFwMgr, nullptr, CLSCTX_INPROC_SERVER, IID_INetFwMgr, &object),
              CO_E_NOTINITIALIZED);
    EXPECT_EQ(TakeErrorInfoText(), "");
    EXPECT_EQ(CoInitialize(nullptr), S_OK);
  }).join();
  EXPECT_EQ(TakeErrorInfoText(), "main thread");
  EXPECT_EQ(TakeErrorInfoText(), "");
}

}  // namespace
