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
    int keepError = 0;  // why the socket could not be copied
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
      if (reply->socket.get() < 0) reply->keepError = errno;
      reply->capture = capture;
    }
  }
};

TrafficBusClient::TrafficBusClient(std::unique_ptr<sdbus::IConnection> connection)
    : m_connection(std::move(connection)), m_proxy(std::make_unique<Proxy>(*m_connection)) {}

TrafficBusClient::~TrafficBusClient() = default;

Result<std::unique_ptr<TrafficBusClient>> TrafficBusClient::Connect() {
  std::unique_ptr<sdbus::IConnection> connection;
  if (Status status = bus::ConnectSystemBus(&connection); !status.ok()) return status;
  return std::unique_ptr<TrafficBusClient>(new TrafficBusClient(std::move(connection)));
}

Result<std::optional<TrafficBusClient::Capture>> TrafficBusClient::OpenCapture(const std::string& address,
                                                                               int interrupt) {
  try {
    m_connection->setMethodCallTimeout(kOpenTimeout);
    m_proxy->reply.reset();
    m_proxy->OpenCapture(address);
    // The bus is served here, so that the wait can end early.
    while (!m_proxy->reply) {
      if (m_connection->processPendingRequest()) continue;
      const sdbus::IConnection::PollData data = m_connection->getEventLoopPollData();
      pollfd waiting[2] = {{data.fd, data.events, 0}, {interrupt, POLLIN, 0}};
      if (poll(waiting, 2, data.getPollTimeout()) < 0 && errno != EINTR)
        return Failed("waiting for the firewall service failed: " + std::string(std::strerror(errno)));
      if (waiting[1].revents & POLLIN) return std::optional<Capture>();
    }
  } catch (const sdbus::Error& error) {
    return bus::StatusOf(error);
  }
  Proxy::Reply& reply = *m_proxy->reply;
  if (reply.error) return bus::StatusOf(*reply.error);
  if (reply.socket.get() < 0)
    return Failed("the capture's socket cannot be kept: " + std::string(std::strerror(reply.keepError)));
  return std::optional<Capture>(Capture{.socket = reply.socket.release(), .number = reply.capture});
}

Result<std::uint64_t> TrafficBusClient::DroppedDatagrams(std::uint32_t capture) {
  try {
    m_connection->setMethodCallTimeout(kCallTimeout);
    return m_proxy->GetDroppedDatagrams(capture);
  } catch (const sdbus::Error& error) {
    return bus::StatusOf(error);
  }
}
