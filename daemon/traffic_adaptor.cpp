#include "daemon/traffic_adaptor.h"

#include <arpa/inet.h>

#include "firewall/bus/bus_protocol.h"

TrafficAdaptor::TrafficAdaptor(sdbus::IConnection& connection, CaptureServer& captures, Authorizer& authorizer)
    : AdaptorInterfaces(connection, bus::kObjectPath), m_captures(captures), m_authorizer(authorizer) {
  // A client that leaves the bus leaves its captures too, even where another process still
  // holds their sockets.
  m_departures = connection.addMatch(
      "type='signal',sender='org.freedesktop.DBus',interface='org.freedesktop.DBus',member='NameOwnerChanged'",
      [this](sdbus::Message& message) {
        std::string name, before, after;
        message >> name >> before >> after;
        if (after.empty() && name.starts_with(':')) m_captures.ClientGone(name);
      });
  registerAdaptor();
}

TrafficAdaptor::~TrafficAdaptor() { unregisterAdaptor(); }

void TrafficAdaptor::OpenCapture(sdbus::Result<sdbus::UnixFd, uint32_t>&& result, std::string address) {
  auto call = std::make_shared<sdbus::Result<sdbus::UnixFd, uint32_t>>(std::move(result));
  const auto fail = [call](HRESULT hr, const std::string& reason) { call->returnError(bus::ErrorOf(hr, reason)); };
  in_addr parsed;
  if (inet_pton(AF_INET, address.c_str(), &parsed) != 1)
    return fail(E_INVALIDARG, "\"" + address + "\" is not a dotted IPv4 address");
  const std::optional<std::string> sender = bus::CurrentSender(getObject());
  if (!sender) return fail(E_ACCESSDENIED, "the caller cannot be identified");
  m_authorizer.Check(*sender, bus::kViewTrafficAction,
                     [this, call, fail, client = *sender, address, parsed](const Status& allowed, uid_t uid) {
                       if (!allowed.ok()) return fail(E_ACCESSDENIED, allowed.reason());
                       int socket = -1;
                       std::uint32_t capture = 0;
                       if (const int error = m_captures.Open(client, uid, parsed.s_addr, &socket, &capture))
                         return fail(HRESULT_FROM_WIN32(error),
                                     "cannot capture " + address + ": Winsock error " + std::to_string(error));
                       call->returnResults(sdbus::UnixFd(socket, sdbus::adopt_fd), capture);
                     });
}

uint64_t TrafficAdaptor::GetDroppedDatagrams(const uint32_t& capture) {
  const std::optional<std::string> sender = bus::CurrentSender(getObject());
  const std::optional<std::uint64_t> dropped = sender ? m_captures.Dropped(*sender, capture) : std::nullopt;
  if (!dropped) throw bus::ErrorOf(HRESULT_NOT_FOUND, "no such capture of this caller");
  return *dropped;
}
