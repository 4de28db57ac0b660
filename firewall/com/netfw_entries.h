#pragma once
// Entry objects of the two collections. A new entry (from its class factory) keeps its
// values until it is added; an entry handed out by a collection stands for a stored row,
// and its puts write through to the store, each one change.
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

#include "firewall/com/com_object.h"
#include "firewall/com/firewall_configuration.h"
#include "firewall/com/netfw.h"

// Gives the caller its own COM string of `text`.
HRESULT CopyOut(const std::u16string& text, BSTR* out);
// The HRESULT of what the firewall reported; a failure's reason is left as the thread's
// error text for whoever explains it.
HRESULT ComResult(const Status& status);

template <class Interface, class Key>
class NetFwEntry : public ComObject<Interface> {
 public:
  NetFwEntry() = default;
  NetFwEntry(std::shared_ptr<FirewallConfiguration> service, EntryRecord<Key> record)
      : m_service(std::move(service)), m_record(std::move(record)) {}

  HRESULT get_Name(BSTR* name) override { return CopyOut(m_record.name, name); }
  HRESULT put_Name(BSTR name) override {
    if (SysStringLen(name) == 0) return E_INVALIDARG;
    return Write(EntryChange{std::u16string(name, SysStringLen(name)), std::nullopt});
  }
  HRESULT get_Enabled(VARIANT_BOOL* enabled) override {
    if (!enabled) return E_POINTER;
    *enabled = m_record.enabled ? VARIANT_TRUE : VARIANT_FALSE;
    return S_OK;
  }
  HRESULT put_Enabled(VARIANT_BOOL enabled) override {
    return Write(EntryChange{std::nullopt, enabled != VARIANT_FALSE});
  }
  // Every entry lets through from any address, over either IP version.
  HRESULT get_IpVersion(NET_FW_IP_VERSION* version) override {
    if (!version) return E_POINTER;
    *version = NET_FW_IP_VERSION_ANY;
    return S_OK;
  }
  HRESULT get_Scope(NET_FW_SCOPE* scope) override {
    if (!scope) return E_POINTER;
    *scope = NET_FW_SCOPE_ALL;
    return S_OK;
  }

 public:
  // What the entry holds, for the collection it is added to.
  const EntryRecord<Key>& Record() const { return m_record; }

 protected:
  // A stored entry's key names its row, so it cannot be changed through the entry.
  bool Stored() const { return m_service != nullptr; }

  std::shared_ptr<FirewallConfiguration> m_service;
  EntryRecord<Key> m_record;

 private:
  HRESULT Write(const EntryChange& change) {
    if (m_service)
      if (const Status status = m_service->Update(m_record.key, change); !status.ok()) return ComResult(status);
    if (change.name) m_record.name = *change.name;
    if (change.enabled) m_record.enabled = *change.enabled;
    return S_OK;
  }
};

class NetFwApp final : public NetFwEntry<INetFwAuthorizedApplication, AppKey> {
 public:
  using NetFwEntry::NetFwEntry;
  HRESULT get_ProcessImageFileName(BSTR* path) override;
  // Only an absolute path can name the executable that a rule is about.
  HRESULT put_ProcessImageFileName(BSTR path) override;
};

class NetFwPort final : public NetFwEntry<INetFwOpenPort, PortKey> {
 public:
  // A new port is TCP and has no number until one is put.
  NetFwPort() { m_record.key = PortKey{0, kProtocolTcp}; }
  using NetFwEntry::NetFwEntry;
  HRESULT get_Port(LONG* port) override;
  HRESULT put_Port(LONG port) override;  // 1 to 65535
  HRESULT get_Protocol(NET_FW_IP_PROTOCOL* protocol) override;
  HRESULT put_Protocol(NET_FW_IP_PROTOCOL protocol) override;  // TCP or UDP
};

// Whether an application's image path is one the firewall accepts.
bool AcceptableImagePath(const std::u16string& path);
// `path` as a new application's key: absolute, without empty or "." parts and without a
// trailing slash, so that it can match the file it names; nothing for a path that is not
// absolute, names "/" or has ".." parts (which only the file system can resolve).
std::optional<std::u16string> NormalImagePath(std::u16string_view path);
