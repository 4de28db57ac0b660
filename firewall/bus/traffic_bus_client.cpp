#include "firewall/bus/traffic_bus_client.h"

#include <fcntl.h>
#include <poll.h>

#include <sdbus-c++/sdbus-c++.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <optional>

#include "firewall/bus/bus_protocol.h"
#include "firewall/bus/firewall1_proxy.h"
#include "firewall/com/com_runtime.h"

namespace {

// Opening a capture waits while polkit asks for a password; anything else is quick, and
// must not hold up the window's exit when the service does not answer.
constexpr auto kOpenTimeout = std::chrono::minutes(2);
constexpr auto kCallTimeout = std::chrono::seconds(5);

}  // namespace

class TrafficBusClient::Proxy final : public sdbus::ProxyInterfaces<org::brenvo::Traffic1_proxy> {
 public:
  explicit Proxy(sdbus::IConnection& connection) : ProxyInterfaces(connection, bus::kServiceName, bus::kObjectPath) {
    registerProxy();
  }
  ~Proxy() { unregisterProxy(); }

  struct Reply {
    std::optional<sdbus::Error> error;
    sdbus::UnixFd socket;
    std::uint32_t capture = 0;
  };
  std::optional<Reply> reply;

 private:
  void onOpenCaptureReply(const sdbus::UnixFd& socket, const uint32_t& capture, const sdbus::Error* error) override {
    reply.emplace();
    if (error) {
      reply->error = *error;
    } else {
      // A copy of our own that no program the caller starts inherits: one that did would
      // keep the capture going after the caller has gone.
      reply->socket.reset(fcntl(socket.get(), F_DUPFD_CLOEXEC, 0), sdbus::adopt_fd);
      reply->capture = capture;
    }
  }
};

TrafficBusClient::TrafficBusClient(std::unique_ptr<sdbus::IConnection> connection)
    : m_connection(std::move(connection)), m_proxy(std::make_unique<Proxy>(*m_connection)) {}

TrafficBusClient::~TrafficBusClient() = default;

HRESULT TrafficBusClient::Connect(std::unique_ptr<TrafficBusClient>* client) {
  std::unique_ptr<sdbus::IConnection> connection;
  if (const Status status = bus::ConnectSystemBus(&connection); !status.ok()) {
    SetErrorInfoText(status.reason());
    return E_FAIL;
  }
  client->reset(new TrafficBusClient(std::move(connection)));
  return S_OK;
}

HRESULT TrafficBusClient::OpenCapture(const std::string& address, int interrupt, int* socket, std::uint32_t* capture) {
  try {
    m_connection->setMethodCallTimeout(kOpenTimeout);
    m_proxy->reply.reset();
    m_proxy->OpenCapture(address);
    // The bus is served here, so that the wait can end early.
    while (!m_proxy->reply) {
      if (m_connection->processPendingRequest()) continue;
      const sdbus::IConnection::PollData data = m_connection->getEventLoopPollData();
      pollfd waiting[2] = {{data.fd, data.events, 0}, {interrupt, POLLIN, 0}};
      if (poll(waiting, 2, data.getPollTimeout()) < 0 && errno != EINTR) {
        SetErrorInfoText("waiting for the firewall service failed: " + std::string(std::strerror(errno)));
        return E_FAIL;
      }
      if (waiting[1].revents & POLLIN) {
        SetErrorInfoText("the capture was no longer wanted");
        return E_ABORT;
      }
    }
  } catch (const sdbus::Error& error) {
    return bus::ResultOf(error);
  }
  Proxy::Reply& reply = *m_proxy->reply;
  if (reply.error) return bus::ResultOf(*reply.error);
  if (reply.socket.get() < 0) {
    SetErrorInfoText("the capture's socket cannot be kept: " + std::string(std::strerror(errno)));
    return E_FAIL;
  }
  *socket = reply.socket.release();
  *capture = reply.capture;
  return S_OK;
}

HRESULT TrafficBusClient::DroppedDatagrams(std::uint32_t capture, std::uint64_t* dropped) {
  try {
    m_connection->setMethodCallTimeout(kCallTimeout);
    *dropped = m_proxy->GetDroppedDatagrams(capture);
    return S_OK;
  } catch (const sdbus::Error& error) {
    return bus::ResultOf(error);
  }
}
