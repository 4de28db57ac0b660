#include "app/blocked_watch.h"

#include <mutex>

#include "firewall/bus/blocked_bus_client.h"
#include "firewall/local_registration.h"
#include "firewall/open_firewall.h"
#include "firewall/verdicts/blocked_flows.h"

namespace {

class RecordSource final : public BlockedSource {
 public:
  explicit RecordSource(std::shared_ptr<BlockedFlows> record) : m_record(std::move(record)) {}
  ~RecordSource() override { m_record->SetListener({}); }

  Status Start(Listener listener) override {
    m_record->SetListener(std::move(listener));
    return {};
  }

 private:
  std::shared_ptr<BlockedFlows> m_record;
};

class ServiceSource final : public BlockedSource {
 public:
  Status Start(Listener listener) override {
    Result<std::unique_ptr<BlockedBusClient>> client = BlockedBusClient::Connect();
    if (!client) return client.status();
    if (Status watching = (*client)->Watch(std::move(listener)); !watching) return watching;
    m_client = std::move(*client);
    return {};
  }

 private:
  std::unique_ptr<BlockedBusClient> m_client;  // its thread calls the listener until it goes
};

BlockedSourceFactory& SourceFactory() {
  static BlockedSourceFactory factory;
  return factory;
}

}  // namespace

std::unique_ptr<BlockedSource> RecordBlockedSource(std::shared_ptr<BlockedFlows> record) {
  return std::make_unique<RecordSource>(std::move(record));
}

std::unique_ptr<BlockedSource> RegisteredBlockedSource() {
  const std::optional<BackendChoice> backend = RegisteredBackend();
  if (backend && backend->backend == FirewallBackend::kService) return std::make_unique<ServiceSource>();
  if (std::shared_ptr<BlockedFlows> record = RegisteredBlockedFlows()) return RecordBlockedSource(std::move(record));
  return nullptr;
}

void SetBlockedSourceFactory(BlockedSourceFactory factory) { SourceFactory() = std::move(factory); }

std::unique_ptr<BlockedSource> MakeBlockedSource() { return SourceFactory() ? SourceFactory()() : nullptr; }

struct BlockedWatch::Relay {
  Relay(QObject* receiver, Deliver deliver) : receiver(receiver), deliver(std::move(deliver)) {}

  std::mutex mutex;
  QObject* receiver;  // guarded by mutex; null once the watch goes
  const Deliver deliver;

  void Post(const BlockedFlow& blocked) {
    // A scan of closed ports is a new block per port: such blocks go no further than here,
    // so a flood of them costs the GUI thread nothing.
    if (!blocked.holder.listening || blocked.holder.program.empty()) return;
    const std::lock_guard lock(mutex);
    if (!receiver) return;
    QMetaObject::invokeMethod(
        receiver, [deliver = deliver, blocked] { deliver(blocked); }, Qt::QueuedConnection);
  }
};

BlockedWatch::BlockedWatch(std::unique_ptr<BlockedSource> source, QObject* receiver, Deliver deliver)
    : m_relay(std::make_shared<Relay>(receiver, std::move(deliver))), m_source(std::move(source)) {}

BlockedWatch::~BlockedWatch() {
  {
    const std::lock_guard lock(m_relay->mutex);
    m_relay->receiver = nullptr;
  }
  m_source.reset();
}

Status BlockedWatch::Start() {
  return m_source->Start([relay = m_relay](const BlockedFlow& blocked) { relay->Post(blocked); });
}
