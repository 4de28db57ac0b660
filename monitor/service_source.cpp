#include "monitor/service_source.h"

#include "firewall/bus/traffic_bus_client.h"
#include "firewall/com/com_runtime.h"
#include "monitor/winsock.h"

#include <arpa/inet.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <cinttypes>
#include <cstdio>

namespace ws {
namespace {

// The Winsock error that a failure of the service stands for.
int WinsockError(HRESULT hr) {
  if (hr == E_ACCESSDENIED) return WSAEACCES;
  if (hr == E_ABORT) return WSAEINTR;
  if (IS_WIN32_HRESULT(hr) && HRESULT_CODE(hr) >= 10000 && HRESULT_CODE(hr) < 12000)
    return static_cast<int>(HRESULT_CODE(hr));
  return WSAENETDOWN;
}

// The reason of a failure goes to standard error; the capture's diagnostic prints its
// number. A bind given up because the capture is stopping is no failure to explain.
int Failed(HRESULT hr) {
  const std::string reason = TakeErrorInfoText();
  if (hr != E_ABORT) std::fprintf(stderr, "brenvo: traffic capture through the service: %s\n", reason.c_str());
  return WinsockError(hr);
}

}  // namespace

ServiceSource::ServiceSource() : m_interrupt(eventfd(0, EFD_CLOEXEC)) {}

ServiceSource::~ServiceSource() {
  // Asked before the socket closes: the service forgets a capture once its client has gone.
  std::uint64_t dropped = 0;
  if (m_capture != 0 && SUCCEEDED(m_service->DroppedDatagrams(m_capture, &dropped)))
    std::fprintf(stderr,
                 "brenvo: the service dropped %" PRIu64 " datagrams that the traffic page did not read in time\n",
                 dropped);
  if (m_interrupt >= 0) close(m_interrupt);
}

int ServiceSource::Open() {
  if (m_interrupt < 0) return WSAENETDOWN;
  const HRESULT hr = TrafficBusClient::Connect(&m_service);
  return FAILED(hr) ? Failed(hr) : 0;
}

int ServiceSource::Bind(std::uint32_t address) {
  char text[INET_ADDRSTRLEN];
  inet_ntop(AF_INET, &address, text, sizeof text);
  int socket = -1;
  const HRESULT hr = m_service->OpenCapture(text, m_interrupt, &socket, &m_capture);
  if (FAILED(hr)) return Failed(hr);
  Adopt(socket);
  return 0;
}

void ServiceSource::Wake() {
  DescriptorSource::Wake();
  eventfd_write(m_interrupt, 1);
}

}  // namespace ws
