#include "monitor/service_source.h"

#include "firewall/bus/traffic_bus_client.h"
#include "monitor/winsock.h"

#include <arpa/inet.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <cinttypes>
#include <cstdio>

namespace ws {

int WinsockError(const Status& failure) {
  switch (failure.kind()) {
    case FailureKind::kAccessDenied: return WSAEACCES;
    case FailureKind::kInvalidArgument: return WSAEADDRNOTAVAIL;
    case FailureKind::kBusy: return WSAEMFILE;
    default: return WSAENETDOWN;
  }
}

namespace {

// The reason of a failure goes to standard error; the capture's diagnostic prints its number.
int Refused(const Status& failure) {
  std::fprintf(stderr, "brenvo: traffic capture through the service: %s\n", failure.reason().c_str());
  return WinsockError(failure);
}

}  // namespace

ServiceSource::ServiceSource() : m_interrupt(eventfd(0, EFD_CLOEXEC)) {}

ServiceSource::~ServiceSource() {
  // Asked before the socket closes: the service forgets a capture once its client has gone.
  if (m_capture != 0)
    if (const Result<std::uint64_t> dropped = m_service->DroppedDatagrams(m_capture); dropped.ok())
      std::fprintf(stderr,
                   "brenvo: the service dropped %" PRIu64 " datagrams that the traffic page did not read in time\n",
                   *dropped);
  if (m_interrupt >= 0) close(m_interrupt);
}

int ServiceSource::Open() {
  if (m_interrupt < 0) return WSAENETDOWN;
  Result<std::unique_ptr<TrafficBusClient>> service = TrafficBusClient::Connect();
  if (!service.ok()) return Refused(service.status());
  m_service = std::move(*service);
  return 0;
}

int ServiceSource::Bind(std::uint32_t address) {
  char text[INET_ADDRSTRLEN];
  inet_ntop(AF_INET, &address, text, sizeof text);
  const Result<std::optional<TrafficBusClient::Capture>> capture = m_service->OpenCapture(text, m_interrupt);
  if (!capture.ok()) return Refused(capture.status());
  // A bind given up because the capture is stopping is no failure to explain.
  if (!*capture) return WSAEINTR;
  m_capture = (*capture)->number;
  Adopt((*capture)->socket);
  return 0;
}

void ServiceSource::Wake() {
  DescriptorSource::Wake();
  eventfd_write(m_interrupt, 1);
}

}  // namespace ws
