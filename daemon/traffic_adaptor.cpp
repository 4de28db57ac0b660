#include "daemon/traffic_adaptor.h"

#include <arpa/inet.h>

#include "firewall/bus/bus_protocol.h"

TrafficAdaptor::TrafficAdaptor(sdbus::IConnection& connection, CaptureServer& captures, Authorizer& authorizer)
    : AdaptorInterfaces(connection, bus::kObjectPath), m_captures(captures), m_authorizer(authorizer) {
  registerAdaptor();
}

TrafficAdaptor::~TrafficAdaptor() { unregisterAdaptor(); }

void TrafficAdaptor::OpenCapture(sdbus::Result<sdbus::UnixFd, uint32_t>&& result, std::string address) {
  auto call = std::make_shared<sdbus::Result<sdbus::UnixFd, uint32_t>>(std::move(result));
  const auto fail = [call](HRESULT hr, const std::string& reason) { call->returnError(bus::ErrorOf(hr, reason)); };
  in_addr parsed;
  if (inet_pton(AF_INET, address.c_str(), &parsed) != 1)
    return fail(E_INVALIDARG, "\"" + address + "\" is not a dotted IPv4 address");
  bus::Caller caller;
  if (!bus::CurrentCaller(getObject(), &caller)) return fail(E_ACCESSDENIED, "the caller cannot be identified");
  m_authorizer.Check(
      caller.name, caller.uid, bus::kViewTrafficAction,
      [this, call, fail, client = caller.name, address, parsed](HRESULT allowed, const std::string& reason) {
        if (FAILED(allowed)) return fail(allowed, reason);
        int socket = -1;
        std::uint32_t capture = 0;
        if (const int error = m_captures.Open(client, parsed.s_addr, &socket, &capture))
          return fail(HRESULT_FROM_WIN32(error),
                      "cannot capture " + address + ": Winsock error " + std::to_string(error));
        call->returnResults(sdbus::UnixFd(socket, sdbus::adopt_fd), capture);
      });
}

uint64_t TrafficAdaptor::GetDroppedDatagrams(const uint32_t& capture) {
  bus::Caller caller;
  const std::optional<std::uint64_t> dropped =
      bus::CurrentCaller(getObject(), &caller) ? m_captures.Dropped(caller.name, capture) : std::nullopt;
  if (!dropped) throw bus::ErrorOf(HRESULT_NOT_FOUND, "no such capture of this caller");
  return *dropped;
}
