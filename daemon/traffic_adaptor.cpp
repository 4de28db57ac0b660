#include "daemon/traffic_adaptor.h"

#include <arpa/inet.h>

#include "firewall/bus/bus_protocol.h"

TrafficAdaptor::TrafficAdaptor(sdbus::IConnection& connection, CaptureServer& captures, Authorizer& authorizer,
                               BusDepartures& departures)
    : AdaptorInterfaces(connection, bus::kObjectPath), m_captures(captures), m_authorizer(authorizer) {
  // Even where another process still holds the captures' sockets.
  departures.Tell([this](const std::string& client) { m_captures.ClientGone(client); });
  registerAdaptor();
}

TrafficAdaptor::~TrafficAdaptor() { unregisterAdaptor(); }

void TrafficAdaptor::OpenCapture(sdbus::Result<sdbus::UnixFd, uint32_t>&& result, std::string address) {
  auto call = std::make_shared<sdbus::Result<sdbus::UnixFd, uint32_t>>(std::move(result));
  const auto fail = [call](const Status& failure) { call->returnError(bus::ErrorOf(failure)); };
  in_addr parsed;
  if (inet_pton(AF_INET, address.c_str(), &parsed) != 1)
    return fail(InvalidArgument("\"" + address + "\" is not a dotted IPv4 address"));
  const std::optional<std::string> sender = bus::CurrentSender(getObject());
  if (!sender) return fail(AccessDenied("the caller cannot be identified"));
  m_authorizer.Check(
      *sender, bus::kViewTrafficAction, Authorizer::Interaction::kAllowed,
      [this, call, fail, client = *sender, address, parsed](const Status& allowed, uid_t uid) {
        if (!allowed.ok()) return fail(allowed);
        const Result<CaptureServer::Opened> opened = m_captures.Open(client, uid, parsed.s_addr);
        if (!opened.ok())
          return fail(Status(opened.status().kind(), "cannot capture " + address + ": " + opened.status().reason()));
        call->returnResults(sdbus::UnixFd(opened->socket, sdbus::adopt_fd), opened->capture);
      });
}

uint64_t TrafficAdaptor::GetDroppedDatagrams(const uint32_t& capture) {
  const std::optional<std::string> sender = bus::CurrentSender(getObject());
  const std::optional<std::uint64_t> dropped = sender ? m_captures.Dropped(*sender, capture) : std::nullopt;
  if (!dropped) throw bus::ErrorOf(NotFound("no such capture of this caller"));
  return *dropped;
}
