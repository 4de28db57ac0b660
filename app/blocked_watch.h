#pragma once
// Where the window learns of the programs the firewall blocks: the service's blocks over the
// bus, or the record of the firewall that this process keeps in the kernel. Each block is
// handed to the GUI thread, where the notice shows.
#include <QObject>
#include <functional>
#include <memory>

#include "firewall/com/blocked_flow.h"
#include "firewall/com/status.h"

class BlockedFlows;

// A stream of blocks. Destroying it stops the calls.
class BlockedSource {
 public:
  using Listener = std::function<void(const BlockedFlow&)>;
  virtual ~BlockedSource() = default;
  // Starts calling `listener`, on any thread, with each block to be told of; or says why not.
  virtual Status Start(Listener listener) = 0;
};

// The blocks that `record` signals.
std::unique_ptr<BlockedSource> RecordBlockedSource(std::shared_ptr<BlockedFlows> record);
// The blocks of the firewall registered now: the service's where it is the service, else
// those of the record this process keeps; nullptr where nothing blocks (the store alone).
std::unique_ptr<BlockedSource> RegisteredBlockedSource();

// Where the main window takes its blocks from. None until the program's start chooses one,
// so a window that replays a capture file, or a test's, watches nothing unless told to.
using BlockedSourceFactory = std::function<std::unique_ptr<BlockedSource>()>;
void SetBlockedSourceFactory(BlockedSourceFactory factory);
std::unique_ptr<BlockedSource> MakeBlockedSource();

// Hands the blocks of a source that a notice can show (of a known program that listened) to
// `deliver`, called on `receiver`'s thread by a queued call. The receiver outlives the watch;
// a call queued for a receiver that goes is dropped with it.
class BlockedWatch {
 public:
  using Deliver = std::function<void(const BlockedFlow&)>;
  BlockedWatch(std::unique_ptr<BlockedSource> source, QObject* receiver, Deliver deliver);
  ~BlockedWatch();
  BlockedWatch(const BlockedWatch&) = delete;
  BlockedWatch& operator=(const BlockedWatch&) = delete;

  Status Start();

 private:
  struct Relay;  // shared with the source's threads, which may still be in a call as the watch goes

  std::shared_ptr<Relay> m_relay;
  std::unique_ptr<BlockedSource> m_source;
};
