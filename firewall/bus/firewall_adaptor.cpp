#include "firewall/bus/firewall_adaptor.h"

#include <string>
#include <type_traits>
#include <utility>

#include "firewall/bus/bus_protocol.h"
#include "firewall/com/com_runtime.h"
#include "firewall/com/netfw_entries.h"

namespace {

HRESULT Refuse(std::string reason) {
  SetErrorInfoText(std::move(reason));
  return E_INVALIDARG;
}

// A name or a path as the firewall keeps it, refused when it is too long.
HRESULT TakeText(const std::string& text, const char* what, std::u16string* out) {
  std::size_t characters = 0;
  for (const char c : text) characters += (static_cast<unsigned char>(c) & 0xC0) != 0x80;
  if (characters > bus::kMaxTextLength)
    return Refuse(std::string(what) + " is longer than " + std::to_string(bus::kMaxTextLength) + " characters");
  auto converted = bus::Utf16(text);
  if (!converted) return Refuse(std::string(what) + " is not UTF-8 text");
  *out = std::move(*converted);
  return S_OK;
}

HRESULT TakePath(const std::string& path, AppKey* key) {
  const HRESULT hr = TakeText(path, "the path", key);
  if (FAILED(hr)) return hr;
  return AcceptableImagePath(*key) ? S_OK : Refuse("the path of a program must be absolute");
}

// The path of a program to be added, made normal so that it can match its file.
HRESULT TakeNewPath(const std::string& path, AppKey* key) {
  HRESULT hr = TakePath(path, key);
  if (FAILED(hr)) return hr;
  std::optional<AppKey> normal = NormalImagePath(*key);
  if (!normal) return Refuse("the path of a program must name a file without \"..\" parts");
  *key = *std::move(normal);
  return S_OK;
}

HRESULT TakeName(const std::string& name, std::u16string* out) {
  const HRESULT hr = TakeText(name, "the name", out);
  if (FAILED(hr)) return hr;
  return out->empty() ? Refuse("the name must not be empty") : S_OK;
}

HRESULT TakePort(int32_t number, int32_t protocol, PortKey* key) {
  *key = PortKey{number, protocol};
  if (protocol != NET_FW_IP_PROTOCOL_TCP && protocol != NET_FW_IP_PROTOCOL_UDP)
    return Refuse("protocol " + std::to_string(protocol) + " is neither TCP (6) nor UDP (17)");
  if (!NetFwPort::Enforceable(*key)) return Refuse("port " + std::to_string(number) + " is outside 1 to 65535");
  return S_OK;
}

// For the calls answered at once: a failure becomes the error reply.
void ThrowIfFailed(HRESULT hr) {
  if (FAILED(hr)) throw bus::ErrorOf(hr, TakeErrorInfoText());
}

[[noreturn]] void ThrowNotFound() {
  TakeErrorInfoText();  // why a key was refused matters no more: it names no entry
  throw bus::ErrorOf(HRESULT_NOT_FOUND, "no such entry");
}

// A bound on the bytes that `record` takes in a list's reply: each UTF-16 unit is at most
// three bytes of UTF-8, and the rest of its structure (lengths, numbers, padding) at most 32.
template <class Key>
std::size_t ReplySize(const EntryRecord<Key>& record) {
  std::size_t size = 32 + 3 * record.name.size();
  if constexpr (std::is_same_v<Key, AppKey>) size += 3 * record.key.size();
  return size;
}

// Refuses a change after which the list of `changed`'s kind would no longer fit in one
// reply on the bus.
template <class Key>
HRESULT RoomFor(FirewallConfiguration& firewall, const EntryRecord<Key>& changed) {
  std::vector<EntryRecord<Key>> records;
  const HRESULT hr = firewall.List(&records);
  if (FAILED(hr)) return hr;
  std::size_t size = ReplySize(changed);
  for (const EntryRecord<Key>& record : records)
    if (!(record.key == changed.key)) size += ReplySize(record);
  if (size <= bus::kMaxListBytes) return S_OK;
  return Refuse(std::string("the list of ") + (std::is_same_v<Key, AppKey> ? "programs" : "ports") +
                " would be longer than the bus carries in one reply (" + std::to_string(bus::kMaxListBytes >> 20) +
                " MiB); remove entries or shorten their names first");
}

// A list's reply, refused rather than sent when it is over the bus's bound: a message past
// the bus's limit would cost the service its connection.
template <class List>
List Bounded(List list, std::size_t bytes) {
  if (bytes > bus::kMaxListBytes)
    throw bus::ErrorOf(E_FAIL, "the list is longer than the bus carries in one reply (" +
                                   std::to_string(bus::kMaxListBytes >> 20) + " MiB)");
  return list;
}

template <class Record>
std::tuple<std::string, bool> Entry(const std::optional<Record>& record) {
  if (!record) ThrowNotFound();
  return {bus::Utf8OrReplacement(record->name), record->enabled};
}

}  // namespace

FirewallAdaptor::FirewallAdaptor(sdbus::IConnection& connection, std::shared_ptr<FirewallConfiguration> firewall,
                                 Authorizer& authorizer, std::string enforcement)
    : AdaptorInterfaces(connection, bus::kObjectPath),
      m_firewall(std::move(firewall)),
      m_authorizer(authorizer),
      m_enforcement(std::move(enforcement)) {
  registerAdaptor();
}

FirewallAdaptor::~FirewallAdaptor() { unregisterAdaptor(); }

void FirewallAdaptor::Change(sdbus::Result<>&& result, HRESULT checked, std::function<HRESULT()> change) {
  auto call = std::make_shared<sdbus::Result<>>(std::move(result));
  auto answer = [call](HRESULT hr, const std::string& reason) {
    if (FAILED(hr))
      call->returnError(bus::ErrorOf(hr, reason.empty() ? "the change failed" : reason));
    else
      call->returnResults();
  };
  if (FAILED(checked)) return answer(checked, TakeErrorInfoText());
  const std::optional<std::string> sender = bus::CurrentSender(getObject());
  if (!sender) return answer(E_ACCESSDENIED, "the caller cannot be identified");
  m_authorizer.Check(*sender, bus::kManageAction,
                     [answer, change = std::move(change)](HRESULT allowed, const std::string& reason, uid_t) {
                       if (FAILED(allowed)) return answer(allowed, reason);
                       const HRESULT hr = change();
                       answer(hr, FAILED(hr) ? TakeErrorInfoText() : std::string());
                     });
}

bool FirewallAdaptor::GetFirewallEnabled() {
  bool on = false;
  ThrowIfFailed(m_firewall->ReadFirewallEnabled(&on));
  return on;
}

void FirewallAdaptor::SetFirewallEnabled(sdbus::Result<>&& result, bool enabled) {
  Change(std::move(result), S_OK, [this, enabled] { return m_firewall->WriteFirewallEnabled(enabled); });
}

FirewallAdaptor::Applications FirewallAdaptor::ListApplications() {
  std::vector<AppRecord> records;
  ThrowIfFailed(m_firewall->List(&records));
  Applications applications;
  applications.reserve(records.size());
  std::size_t bytes = 0;
  for (const AppRecord& record : records) {
    const auto& application = applications.emplace_back(bus::Utf8OrReplacement(record.key),
                                                        bus::Utf8OrReplacement(record.name), record.enabled);
    bytes += 32 + std::get<0>(application).size() + std::get<1>(application).size();
  }
  return Bounded(std::move(applications), bytes);
}

// A key that could never be stored names no entry: looking it up is no error.
std::tuple<std::string, bool> FirewallAdaptor::GetApplication(const std::string& path) {
  AppKey key;
  if (FAILED(TakePath(path, &key))) ThrowNotFound();
  std::optional<AppRecord> record;
  ThrowIfFailed(m_firewall->Find(key, &record));
  return Entry(record);
}

void FirewallAdaptor::AddApplication(sdbus::Result<>&& result, std::string path, std::string name, bool enabled) {
  AppRecord record;
  record.enabled = enabled;
  HRESULT checked = TakeNewPath(path, &record.key);
  if (SUCCEEDED(checked)) checked = TakeName(name, &record.name);
  Change(std::move(result), checked, [this, record] {
    const HRESULT room = RoomFor(*m_firewall, record);
    return FAILED(room) ? room : m_firewall->Add(record);
  });
}

void FirewallAdaptor::RemoveApplication(sdbus::Result<>&& result, std::string path) {
  AppKey key;
  const HRESULT checked = TakePath(path, &key);
  Change(std::move(result), checked, [this, key] { return m_firewall->Remove(key); });
}

void FirewallAdaptor::SetApplicationName(sdbus::Result<>&& result, std::string path, std::string name) {
  AppKey key;
  std::u16string text;
  HRESULT checked = TakePath(path, &key);
  if (SUCCEEDED(checked)) checked = TakeName(name, &text);
  Change(std::move(result), checked, [this, key, text] {
    const HRESULT room = RoomFor(*m_firewall, AppRecord{key, text});
    return FAILED(room) ? room : m_firewall->Update(key, EntryChange{text, {}});
  });
}

void FirewallAdaptor::SetApplicationEnabled(sdbus::Result<>&& result, std::string path, bool enabled) {
  AppKey key;
  const HRESULT checked = TakePath(path, &key);
  Change(std::move(result), checked, [this, key, enabled] {
    return m_firewall->Update(key, EntryChange{{}, enabled});
  });
}

FirewallAdaptor::Ports FirewallAdaptor::ListPorts() {
  std::vector<PortRecord> records;
  ThrowIfFailed(m_firewall->List(&records));
  Ports ports;
  ports.reserve(records.size());
  std::size_t bytes = 0;
  for (const PortRecord& record : records) {
    const auto& port =
        ports.emplace_back(record.key.number, record.key.protocol, bus::Utf8OrReplacement(record.name), record.enabled);
    bytes += 32 + std::get<2>(port).size();
  }
  return Bounded(std::move(ports), bytes);
}

std::tuple<std::string, bool> FirewallAdaptor::GetPort(const int32_t& number, const int32_t& protocol) {
  PortKey key;
  if (FAILED(TakePort(number, protocol, &key))) ThrowNotFound();
  std::optional<PortRecord> record;
  ThrowIfFailed(m_firewall->Find(key, &record));
  return Entry(record);
}

void FirewallAdaptor::AddPort(sdbus::Result<>&& result, int32_t number, int32_t protocol, std::string name,
                              bool enabled) {
  PortRecord record;
  record.enabled = enabled;
  HRESULT checked = TakePort(number, protocol, &record.key);
  if (SUCCEEDED(checked)) checked = TakeName(name, &record.name);
  Change(std::move(result), checked, [this, record] {
    const HRESULT room = RoomFor(*m_firewall, record);
    return FAILED(room) ? room : m_firewall->Add(record);
  });
}

void FirewallAdaptor::RemovePort(sdbus::Result<>&& result, int32_t number, int32_t protocol) {
  PortKey key;
  const HRESULT checked = TakePort(number, protocol, &key);
  Change(std::move(result), checked, [this, key] { return m_firewall->Remove(key); });
}

void FirewallAdaptor::SetPortName(sdbus::Result<>&& result, int32_t number, int32_t protocol, std::string name) {
  PortKey key;
  std::u16string text;
  HRESULT checked = TakePort(number, protocol, &key);
  if (SUCCEEDED(checked)) checked = TakeName(name, &text);
  Change(std::move(result), checked, [this, key, text] {
    const HRESULT room = RoomFor(*m_firewall, PortRecord{key, text});
    return FAILED(room) ? room : m_firewall->Update(key, EntryChange{text, {}});
  });
}

void FirewallAdaptor::SetPortEnabled(sdbus::Result<>&& result, int32_t number, int32_t protocol, bool enabled) {
  PortKey key;
  const HRESULT checked = TakePort(number, protocol, &key);
  Change(std::move(result), checked, [this, key, enabled] {
    return m_firewall->Update(key, EntryChange{{}, enabled});
  });
}

void FirewallAdaptor::Apply(sdbus::Result<>&& result) {
  Change(std::move(result), S_OK, [this] { return m_firewall->ApplyAll(); });
}
