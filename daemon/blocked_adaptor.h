#pragma once
// The record of blocked flows on the bus (org.brenvo.Blocked1). A caller sees the blocks of
// its own user's programs; one that polkit allows to view the traffic without asking (root
// always) sees every block. Watchers get each new block as a signal sent to them alone, never
// broadcast, since a block shows where a connection came from.
//
// The record is told of blocks on the threads that read verdicts and dropped packets, which
// must never wait for the bus: each block is handed over through a short queue (what does
// not fit is dropped and counted) and a descriptor the bus's loop polls.
#include <sys/types.h>

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "daemon/bus_departures.h"
#include "firewall/bus/authorizer.h"
#include "firewall/bus/blocked_protocol.h"
#include "firewall/bus/firewall1_adaptor.h"

class BlockedFlows;

class BlockedAdaptor final : public sdbus::AdaptorInterfaces<org::brenvo::Blocked1_adaptor> {
 public:
  static constexpr std::size_t kMostWaiting = 256;
  static constexpr std::size_t kMostWatchersPerUser = 16;

  // `blocked` may be null (the store backend): then the list is empty and watchers hear
  // nothing. The authorizer must not answer once the adaptor is gone.
  BlockedAdaptor(sdbus::IConnection& connection, std::shared_ptr<BlockedFlows> blocked, Authorizer& authorizer,
                 BusDepartures& departures);
  ~BlockedAdaptor();
  BlockedAdaptor(const BlockedAdaptor&) = delete;
  BlockedAdaptor& operator=(const BlockedAdaptor&) = delete;

  // Readable while blocks wait to be signalled; SignalWaiting, on the bus's thread, sends them.
  int WaitingFd() const { return m_handOff.fd; }
  void SignalWaiting();

 private:
  // What the caller was allowed to see, decided per call (and once per watcher).
  struct Sight {
    uid_t uid = 0;
    bool everything = false;
    bool Sees(const BlockedFlow& flow) const;
  };
  using SightDone = std::function<void(const Status& identified, Sight sight)>;

  void ListBlocked(sdbus::Result<std::vector<bus::BlockedStruct>>&& result) override;
  void WatchBlocked(sdbus::Result<>&& result) override;
  void AskSight(const std::string& sender, SightDone done);
  Status AddWatcher(const std::string& sender, Sight sight);

  // What the recording threads hand to the bus's thread.
  class HandOff {
   public:
    HandOff();
    ~HandOff();
    void Hand(const BlockedFlow& flow);
    // What was handed since, and how many did not fit.
    std::vector<BlockedFlow> Take(std::uint64_t* dropped);
    const int fd;  // an eventfd

   private:
    std::mutex m_mutex;  // guards what follows
    std::vector<BlockedFlow> m_waiting;
    std::uint64_t m_dropped = 0;
  };

  std::shared_ptr<BlockedFlows> m_blocked;
  Authorizer& m_authorizer;
  HandOff m_handOff;

  std::map<std::string, Sight> m_watchers;  // by unique bus name
  // WatchBlocked calls of each sender that wait for the authorizer; a sender that leaves
  // meanwhile is forgotten, so that no answer makes a watcher of a client that has gone.
  std::map<std::string, int> m_asking;
};
