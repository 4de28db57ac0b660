#include "firewall/bus/firewall_adaptor.h"

#include <string>
#include <type_traits>
#include <utility>

#include "firewall/bus/bus_protocol.h"
#include "firewall/com/netfw_entries.h"
#include "firewall/com/wide_text.h"

namespace {

// A name or a path as the firewall keeps it, refused when it is too long.
Status TakeText(const std::string& text, const char* what, std::u16string* out) {
  std::size_t characters = 0;
  for (const char c : text) characters += (static_cast<unsigned char>(c) & 0xC0) != 0x80;
  if (characters > bus::kMaxTextLength)
    return InvalidArgument(std::string(what) + " is longer than " + std::to_string(bus::kMaxTextLength) +
                           " characters");
  auto converted = ExactUtf16(text);
  if (!converted) return InvalidArgument(std::string(what) + " is not UTF-8 text");
  *out = std::move(*converted);
  return {};
}

Status TakePath(const std::string& path, AppKey* key) {
  const Status status = TakeText(path, "the path", key);
  if (!status.ok()) return status;
  return AcceptableImagePath(*key) ? Status() : InvalidArgument("the path of a program must be absolute");
}

// The path of a program to be added, made normal so that it can match its file.
Status TakeNewPath(const std::string& path, AppKey* key) {
  Status status = TakePath(path, key);
  if (!status.ok()) return status;
  std::optional<AppKey> normal = NormalImagePath(*key);
  if (!normal) return InvalidArgument("the path of a program must name a file without \"..\" parts");
  *key = *std::move(normal);
  return {};
}

Status TakeName(const std::string& name, std::u16string* out) {
  const Status status = TakeText(name, "the name", out);
  if (!status.ok()) return status;
  return out->empty() ? InvalidArgument("the name must not be empty") : Status();
}

Status TakePort(int32_t number, int32_t protocol, PortKey* key) {
  *key = PortKey{number, protocol};
  return CheckPort(*key);
}

// For the calls answered at once: a failure becomes the error reply.
void ThrowIfFailed(const Status& status) {
  if (!status.ok()) throw bus::ErrorOf(status);
}

// A bound on the bytes that `record` takes in a list's reply: each UTF-16 unit is at most
// three bytes of UTF-8, and the rest of its structure (lengths, numbers, padding) at most 32.
template <class Key>
std::size_t ReplySize(const EntryRecord<Key>& record) {
  std::size_t size = 32 + 3 * record.name.size();
  if constexpr (std::is_same_v<Key, AppKey>) size += 3 * record.key.size();
  return size;
}

// A list's reply, refused rather than sent when it is over the bus's bound: a message past
// the bus's limit would cost the service its connection.
template <class List>
List Bounded(List list, std::size_t bytes) {
  if (bytes > bus::kMaxListBytes)
    throw bus::ErrorOf(Failed("the list is longer than the bus carries in one reply (" +
                              std::to_string(bus::kMaxListBytes >> 20) + " MiB)"));
  return list;
}

// An entry as a lookup answers it: whether there is one, its name and whether it is enabled.
template <class Record>
std::tuple<bool, std::string, bool> Entry(const std::optional<Record>& record) {
  if (!record) return {false, std::string(), false};
  return {true, Utf8OrReplacement(record->name), record->enabled};
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

template <class Key>
Status FirewallAdaptor::RoomFor(const EntryRecord<Key>& changed) {
  // Counted in full past three quarters of the limit: an entry added behind the service's
  // back (another process on the same store) is then seen before the list outgrows a reply.
  constexpr std::size_t kCountAgainAbove = bus::kMaxListBytes / 4 * 3;
  constexpr bool kApplications = std::is_same_v<Key, AppKey>;
  std::optional<std::size_t>& bound = kApplications ? m_applicationsBytes : m_portsBytes;
  const std::size_t added = ReplySize(changed);
  if (!bound || *bound + added > kCountAgainAbove) {
    std::vector<EntryRecord<Key>> records;
    const Status status = m_firewall->List(&records);
    if (!status.ok()) return status;
    bound = 0;
    for (const EntryRecord<Key>& record : records)
      if (!(record.key == changed.key)) *bound += ReplySize(record);
  }
  if (*bound + added > bus::kMaxListBytes)
    return InvalidArgument(std::string("the list of ") + (kApplications ? "programs" : "ports") +
                           " would be longer than the bus carries in one reply (" +
                           std::to_string(bus::kMaxListBytes >> 20) +
                           " MiB); remove entries or shorten their names first");
  *bound += added;
  return {};
}

void FirewallAdaptor::Change(sdbus::Result<>&& result, const Status& checked, std::function<Status()> change) {
  auto call = std::make_shared<sdbus::Result<>>(std::move(result));
  auto answer = [call](const Status& status) {
    if (status.ok())
      call->returnResults();
    else
      call->returnError(bus::ErrorOf(status.reason().empty() ? Status(status.kind(), "the change failed") : status));
  };
  if (!checked.ok()) return answer(checked);
  const std::optional<std::string> sender = bus::CurrentSender(getObject());
  if (!sender) return answer(AccessDenied("the caller cannot be identified"));
  m_authorizer.Check(*sender, bus::kManageAction, Authorizer::Interaction::kAllowed,
                     [answer, change = std::move(change)](const Status& allowed, uid_t) {
                       answer(allowed.ok() ? change() : allowed);
                     });
}

bool FirewallAdaptor::GetFirewallEnabled() {
  const Result<bool> on = m_firewall->ReadFirewallEnabled();
  ThrowIfFailed(on.status());
  return *on;
}

void FirewallAdaptor::SetFirewallEnabled(sdbus::Result<>&& result, bool enabled) {
  Change(std::move(result), {}, [this, enabled] { return m_firewall->WriteFirewallEnabled(enabled); });
}

FirewallAdaptor::Applications FirewallAdaptor::ListApplications() {
  std::vector<AppRecord> records;
  ThrowIfFailed(m_firewall->List(&records));
  Applications applications;
  applications.reserve(records.size());
  std::size_t bytes = 0;
  for (const AppRecord& record : records) {
    const auto& application =
        applications.emplace_back(Utf8OrReplacement(record.key), Utf8OrReplacement(record.name), record.enabled);
    bytes += 32 + std::get<0>(application).size() + std::get<1>(application).size();
  }
  return Bounded(std::move(applications), bytes);
}

// A key that could never be stored names no entry: looking it up is no error.
std::tuple<bool, std::string, bool> FirewallAdaptor::GetApplication(const std::string& path) {
  AppKey key;
  if (!TakePath(path, &key).ok()) return Entry(std::optional<AppRecord>());
  std::optional<AppRecord> record;
  ThrowIfFailed(m_firewall->Find(key, &record));
  return Entry(record);
}

void FirewallAdaptor::AddApplication(sdbus::Result<>&& result, std::string path, std::string name, bool enabled) {
  AppRecord record;
  record.enabled = enabled;
  Status checked = TakeNewPath(path, &record.key);
  if (checked.ok()) checked = TakeName(name, &record.name);
  Change(std::move(result), checked, [this, record] {
    const Status room = RoomFor(record);
    return !room.ok() ? room : m_firewall->Add(record);
  });
}

void FirewallAdaptor::RemoveApplication(sdbus::Result<>&& result, std::string path) {
  AppKey key;
  const Status checked = TakePath(path, &key);
  Change(std::move(result), checked, [this, key] { return m_firewall->Remove(key); });
}

void FirewallAdaptor::SetApplicationName(sdbus::Result<>&& result, std::string path, std::string name) {
  AppKey key;
  std::u16string text;
  Status checked = TakePath(path, &key);
  if (checked.ok()) checked = TakeName(name, &text);
  Change(std::move(result), checked, [this, key, text] {
    const Status room = RoomFor(AppRecord{key, text});
    return !room.ok() ? room : m_firewall->Update(key, EntryChange{text, {}});
  });
}

void FirewallAdaptor::SetApplicationEnabled(sdbus::Result<>&& result, std::string path, bool enabled) {
  AppKey key;
  const Status checked = TakePath(path, &key);
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
        ports.emplace_back(record.key.number, record.key.protocol, Utf8OrReplacement(record.name), record.enabled);
    bytes += 32 + std::get<2>(port).size();
  }
  return Bounded(std::move(ports), bytes);
}

std::tuple<bool, std::string, bool> FirewallAdaptor::GetPort(const int32_t& number, const int32_t& protocol) {
  PortKey key;
  if (!TakePort(number, protocol, &key).ok()) return Entry(std::optional<PortRecord>());
  std::optional<PortRecord> record;
  ThrowIfFailed(m_firewall->Find(key, &record));
  return Entry(record);
}

void FirewallAdaptor::AddPort(sdbus::Result<>&& result, int32_t number, int32_t protocol, std::string name,
                              bool enabled) {
  PortRecord record;
  record.enabled = enabled;
  Status checked = TakePort(number, protocol, &record.key);
  if (checked.ok()) checked = TakeName(name, &record.name);
  Change(std::move(result), checked, [this, record] {
    const Status room = RoomFor(record);
    return !room.ok() ? room : m_firewall->Add(record);
  });
}

void FirewallAdaptor::RemovePort(sdbus::Result<>&& result, int32_t number, int32_t protocol) {
  PortKey key;
  const Status checked = TakePort(number, protocol, &key);
  Change(std::move(result), checked, [this, key] { return m_firewall->Remove(key); });
}

void FirewallAdaptor::SetPortName(sdbus::Result<>&& result, int32_t number, int32_t protocol, std::string name) {
  PortKey key;
  std::u16string text;
  Status checked = TakePort(number, protocol, &key);
  if (checked.ok()) checked = TakeName(name, &text);
  Change(std::move(result), checked, [this, key, text] {
    const Status room = RoomFor(PortRecord{key, text});
    return !room.ok() ? room : m_firewall->Update(key, EntryChange{text, {}});
  });
}

void FirewallAdaptor::SetPortEnabled(sdbus::Result<>&& result, int32_t number, int32_t protocol, bool enabled) {
  PortKey key;
  const Status checked = TakePort(number, protocol, &key);
  Change(std::move(result), checked, [this, key, enabled] {
    return m_firewall->Update(key, EntryChange{{}, enabled});
  });
}

void FirewallAdaptor::Apply(sdbus::Result<>&& result) {
  Change(std::move(result), {}, [this] { return m_firewall->ApplyAll(); });
}
