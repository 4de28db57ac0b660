// The collections of authorized applications and open ports, and the enumerator that
// walks them.
#include <type_traits>
#include <utility>
#include <vector>

#include "firewall/com/com_ptr.h"
#include "firewall/com/netfw_entries.h"
#include "firewall/com/netfw_objects.h"

namespace {

// Hands out a snapshot of a collection, one entry per Next.
class VariantEnumerator final : public ComObject<IEnumVARIANT> {
 public:
  void Append(IDispatch* entry) { m_entries.emplace_back().Attach(entry); }

  HRESULT Next(ULONG count, VARIANT* elements, ULONG* fetched) override {
    if (!elements) return E_POINTER;
    ULONG delivered = 0;
    for (; delivered < count && m_position < m_entries.size(); ++delivered, ++m_position) {
      VARIANT& element = elements[delivered];
      element.vt = VT_DISPATCH;
      element.pdispVal = m_entries[m_position].Get();
      element.pdispVal->AddRef();
    }
    if (fetched) *fetched = delivered;
    return delivered == count ? S_OK : S_FALSE;
  }
  HRESULT Reset() override {
    m_position = 0;
    return S_OK;
  }

 private:
  std::vector<ComPtr<IDispatch>> m_entries;
  std::size_t m_position = 0;
};

template <class Entry, class Key, class Interface>
HRESULT ItemOf(const std::shared_ptr<FirewallConfiguration>& service, const Key& key, Interface** item) {
  if (!item) return E_POINTER;
  *item = nullptr;
  std::optional<EntryRecord<Key>> record;
  if (const Status status = service->Find(key, &record); !status.ok()) return ComResult(status);
  if (!record) return HRESULT_NOT_FOUND;
  *item = new Entry(service, std::move(*record));
  return S_OK;
}

template <class Entry, class Key>
HRESULT NewEnumOf(const std::shared_ptr<FirewallConfiguration>& service, IUnknown** newEnum) {
  if (!newEnum) return E_POINTER;
  *newEnum = nullptr;
  std::vector<EntryRecord<Key>> records;
  if (const Status status = service->List(&records); !status.ok()) return ComResult(status);
  auto* enumerator = new VariantEnumerator;
  for (EntryRecord<Key>& record : records) enumerator->Append(new Entry(service, std::move(record)));
  *newEnum = enumerator;
  return S_OK;
}

// Whether `record` is one the firewall can store.
bool Storable(const AppRecord& record) { return !record.key.empty() && !record.name.empty(); }
bool Storable(const PortRecord& record) { return CheckPort(record.key).ok() && !record.name.empty(); }

// Reads what an entry object of another implementation holds, the way Add must take it.
HRESULT ReadEntry(INetFwAuthorizedApplication* app, AppRecord* record) {
  BSTR path = nullptr;
  BSTR name = nullptr;
  VARIANT_BOOL enabled = VARIANT_FALSE;
  HRESULT hr = app->get_ProcessImageFileName(&path);
  const UniqueBstr pathHolder(path);
  if (SUCCEEDED(hr)) hr = app->get_Name(&name);
  const UniqueBstr nameHolder(name);
  if (SUCCEEDED(hr)) hr = app->get_Enabled(&enabled);
  if (FAILED(hr)) return hr;
  std::optional<std::u16string> key = NormalImagePath({path ? path : u"", SysStringLen(path)});
  record->name.assign(name ? name : u"", SysStringLen(name));
  record->enabled = enabled != VARIANT_FALSE;
  if (!key || record->name.empty()) return E_INVALIDARG;
  record->key = *std::move(key);
  return S_OK;
}

HRESULT ReadEntry(INetFwOpenPort* port, PortRecord* record) {
  BSTR name = nullptr;
  NET_FW_IP_PROTOCOL protocol = NET_FW_IP_PROTOCOL_TCP;
  VARIANT_BOOL enabled = VARIANT_FALSE;
  HRESULT hr = port->get_Port(&record->key.number);
  if (SUCCEEDED(hr)) hr = port->get_Protocol(&protocol);
  if (SUCCEEDED(hr)) hr = port->get_Name(&name);
  const UniqueBstr nameHolder(name);
  if (SUCCEEDED(hr)) hr = port->get_Enabled(&enabled);
  if (FAILED(hr)) return hr;
  record->key.protocol = protocol;
  record->name.assign(name ? name : u"", SysStringLen(name));
  record->enabled = enabled != VARIANT_FALSE;
  return Storable(*record) ? S_OK : E_INVALIDARG;
}

// An entry of this firewall's own (as a class factory makes it) hands over its record as it
// is: each put checked its value already.
template <class Own, class Interface>
HRESULT AddEntry(FirewallConfiguration& service, Interface* entry) {
  if (!entry) return E_POINTER;
  if (const auto* own = dynamic_cast<Own*>(entry))
    return Storable(own->Record()) ? ComResult(service.Add(own->Record())) : E_INVALIDARG;
  std::remove_cvref_t<decltype(std::declval<Own>().Record())> record;
  const HRESULT hr = ReadEntry(entry, &record);
  return FAILED(hr) ? hr : ComResult(service.Add(record));
}

class NetFwApps final : public ServiceObject<INetFwAuthorizedApplications> {
 public:
  using ServiceObject::ServiceObject;

  HRESULT Add(INetFwAuthorizedApplication* app) override { return AddEntry<NetFwApp>(*m_service, app); }
  HRESULT Remove(BSTR imageFileName) override {
    if (SysStringLen(imageFileName) == 0) return E_INVALIDARG;
    return ComResult(m_service->Remove(AppKey(imageFileName, SysStringLen(imageFileName))));
  }
  HRESULT Item(BSTR imageFileName, INetFwAuthorizedApplication** app) override {
    if (app) *app = nullptr;
    if (SysStringLen(imageFileName) == 0) return E_INVALIDARG;
    return ItemOf<NetFwApp>(m_service, AppKey(imageFileName, SysStringLen(imageFileName)), app);
  }
  HRESULT get__NewEnum(IUnknown** newEnum) override { return NewEnumOf<NetFwApp, AppKey>(m_service, newEnum); }
};

class NetFwPorts final : public ServiceObject<INetFwOpenPorts> {
 public:
  using ServiceObject::ServiceObject;

  HRESULT Add(INetFwOpenPort* port) override { return AddEntry<NetFwPort>(*m_service, port); }
  HRESULT Remove(LONG portNumber, NET_FW_IP_PROTOCOL protocol) override {
    return ComResult(m_service->Remove(PortKey{portNumber, protocol}));
  }
  HRESULT Item(LONG portNumber, NET_FW_IP_PROTOCOL protocol, INetFwOpenPort** port) override {
    return ItemOf<NetFwPort>(m_service, PortKey{portNumber, protocol}, port);
  }
  HRESULT get__NewEnum(IUnknown** newEnum) override { return NewEnumOf<NetFwPort, PortKey>(m_service, newEnum); }
};

}  // namespace

INetFwAuthorizedApplications* NewNetFwApps(std::shared_ptr<FirewallConfiguration> service) {
  return new NetFwApps(std::move(service));
}

INetFwOpenPorts* NewNetFwPorts(std::shared_ptr<FirewallConfiguration> service) {
  return new NetFwPorts(std::move(service));
}
