#include "daemon/blocked_adaptor.h"

#include <sys/eventfd.h>
#include <unistd.h>

#include <cstdio>
#include <utility>

#include "firewall/bus/bus_protocol.h"
#include "firewall/verdicts/blocked_flows.h"

bool BlockedAdaptor::Sight::Sees(const BlockedFlow& flow) const {
  return everything || (flow.holder.listening && flow.holder.uid == uid);
}

BlockedAdaptor::HandOff::HandOff() : fd(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {
  if (fd < 0) throw sdbus::Error("org.freedesktop.DBus.Error.Failed", "no eventfd for blocked flows");
}

BlockedAdaptor::HandOff::~HandOff() { close(fd); }

void BlockedAdaptor::HandOff::Hand(const BlockedFlow& flow) {
  {
    const std::lock_guard lock(m_mutex);
    if (m_waiting.size() >= kMostWaiting) {
      ++m_dropped;
      return;
    }
    m_waiting.push_back(flow);
  }
  const std::uint64_t one = 1;
  // Cannot fail short of 2^64 - 1 wake-ups between two reads.
  [[maybe_unused]] const ssize_t written = write(fd, &one, sizeof one);
}

std::vector<BlockedFlow> BlockedAdaptor::HandOff::Take(std::uint64_t* dropped) {
  std::uint64_t wakeUps = 0;
  [[maybe_unused]] const ssize_t drained = read(fd, &wakeUps, sizeof wakeUps);
  const std::lock_guard lock(m_mutex);
  *dropped = std::exchange(m_dropped, 0);
  return std::exchange(m_waiting, {});
}

BlockedAdaptor::BlockedAdaptor(sdbus::IConnection& connection, std::shared_ptr<BlockedFlows> blocked,
                               Authorizer& authorizer, BusDepartures& departures)
    : AdaptorInterfaces(connection, bus::kObjectPath), m_blocked(std::move(blocked)), m_authorizer(authorizer) {
  departures.Tell([this](const std::string& client) {
    m_watchers.erase(client);
    m_asking.erase(client);
  });
  // Cleared before the hand-off goes: BlockedFlows waits for a call that runs.
  if (m_blocked) m_blocked->SetListener([this](const BlockedFlow& flow) { m_handOff.Hand(flow); });
  registerAdaptor();
}

BlockedAdaptor::~BlockedAdaptor() {
  if (m_blocked) m_blocked->SetListener({});
  unregisterAdaptor();
}

void BlockedAdaptor::SignalWaiting() {
  std::uint64_t dropped = 0;
  const std::vector<BlockedFlow> waiting = m_handOff.Take(&dropped);
  if (dropped > 0)
    std::fprintf(stderr, "brenvod: %llu blocked flows came faster than they could be signalled, and were not\n",
                 static_cast<unsigned long long>(dropped));
  for (const BlockedFlow& flow : waiting) {
    const bus::BlockedStruct blocked = bus::BlockedToBus(flow);
    for (const auto& [watcher, sight] : m_watchers) {
      if (!sight.Sees(flow)) continue;
      try {
        sdbus::Signal signal = getObject().createSignal(INTERFACE_NAME, "Blocked");
        signal.setDestination(watcher);
        signal << blocked;
        getObject().emitSignal(signal);
      } catch (const sdbus::Error& error) {
        // One watcher not told is no reason to stop serving the others.
        std::fprintf(stderr, "brenvod: cannot signal a blocked flow to %s: %s\n", watcher.c_str(),
                     error.getMessage().c_str());
      }
    }
  }
}

void BlockedAdaptor::AskSight(const std::string& sender, SightDone done) {
  m_authorizer.Check(sender, bus::kViewTrafficAction, Authorizer::Interaction::kNone,
                     [done = std::move(done)](const Status& allowed, uid_t uid) {
                       // A caller whose user the bus cannot tell sees nothing at all.
                       if (uid == static_cast<uid_t>(-1)) return done(allowed, {});
                       done(Status(), Sight{uid, allowed.ok()});
                     });
}

void BlockedAdaptor::ListBlocked(sdbus::Result<std::vector<bus::BlockedStruct>>&& result) {
  auto call = std::make_shared<sdbus::Result<std::vector<bus::BlockedStruct>>>(std::move(result));
  const std::optional<std::string> sender = bus::CurrentSender(getObject());
  if (!sender) return call->returnError(bus::ErrorOf(AccessDenied("the caller cannot be identified")));
  AskSight(*sender, [this, call](const Status& identified, Sight sight) {
    if (!identified.ok()) return call->returnError(bus::ErrorOf(identified));
    std::vector<bus::BlockedStruct> shown;
    if (m_blocked)
      for (const BlockedFlow& flow : m_blocked->List())
        if (sight.Sees(flow)) shown.push_back(bus::BlockedToBus(flow));
    call->returnResults(shown);
  });
}

void BlockedAdaptor::WatchBlocked(sdbus::Result<>&& result) {
  auto call = std::make_shared<sdbus::Result<>>(std::move(result));
  const std::optional<std::string> sender = bus::CurrentSender(getObject());
  if (!sender) return call->returnError(bus::ErrorOf(AccessDenied("the caller cannot be identified")));
  ++m_asking[*sender];
  AskSight(*sender, [this, call, client = *sender](const Status& identified, Sight sight) {
    const auto asking = m_asking.find(client);
    if (asking == m_asking.end()) return;  // gone from the bus: no one to answer
    if (--asking->second == 0) m_asking.erase(asking);
    const Status added = identified.ok() ? AddWatcher(client, sight) : identified;
    if (!added.ok()) return call->returnError(bus::ErrorOf(added));
    call->returnResults();
  });
}

Status BlockedAdaptor::AddWatcher(const std::string& sender, Sight sight) {
  if (const auto watching = m_watchers.find(sender); watching != m_watchers.end()) {
    watching->second = sight;
    return {};
  }
  std::size_t ofUser = 0;
  for (const auto& [watcher, seen] : m_watchers) ofUser += seen.uid == sight.uid;
  if (ofUser >= kMostWatchersPerUser)
    return Busy("uid " + std::to_string(sight.uid) + " has " + std::to_string(kMostWatchersPerUser) +
                " connections watching the blocked flows already");
  m_watchers.emplace(sender, sight);
  return {};
}
