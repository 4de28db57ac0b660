#pragma once
// The service's capture on the bus (org.brenvo.Traffic1): a caller that polkit allows to
// view the traffic gets the capture of a local address as a socket of its own, for as long
// as it holds the socket and stays on the bus.
#include "daemon/bus_departures.h"
#include "daemon/capture_server.h"
#include "firewall/bus/authorizer.h"
#include "firewall/bus/firewall1_adaptor.h"

class TrafficAdaptor final : public sdbus::AdaptorInterfaces<org::brenvo::Traffic1_adaptor> {
 public:
  // The authorizer must not answer once the adaptor is gone. A client that leaves the bus
  // (`departures`) leaves its captures too.
  TrafficAdaptor(sdbus::IConnection& connection, CaptureServer& captures, Authorizer& authorizer,
                 BusDepartures& departures);
  ~TrafficAdaptor();
  TrafficAdaptor(const TrafficAdaptor&) = delete;
  TrafficAdaptor& operator=(const TrafficAdaptor&) = delete;

 private:
  void OpenCapture(sdbus::Result<sdbus::UnixFd, uint32_t>&& result, std::string address) override;
  uint64_t GetDroppedDatagrams(const uint32_t& capture) override;

  CaptureServer& m_captures;
  Authorizer& m_authorizer;
};
