#pragma once

#include "monitor/packet_record.h"
#include "monitor/packet_sink.h"

#include <QObject>

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>

class PacketTreeModel;

// Carries each segment from the capture thread to the model on the GUI thread with one
// blocking call, so that a segment is in the tree once the capture goes on. CancelDelivery()
// releases a waiting capture thread without adding, so that a stop can join it while the
// GUI thread waits and serves nothing.
//
// Under load, sleeping and waking both threads for every segment would cost more than
// the segment itself: each side first waits briefly by spinning, and the GUI thread
// serves the segments that follow in quick succession (for a few milliseconds at most,
// so that it still paints and takes input). The views learn of the segments it served
// with one insertion of rows when it stops, before anything is painted.
class PacketHandoff : public QObject, public PacketSink {
  Q_OBJECT
 public:
  explicit PacketHandoff(PacketTreeModel& model, QObject* parent = nullptr);

  // Any thread; returns once the record is in the model (true) or the hand-off has been
  // cancelled (false).
  bool Deliver(const PacketRecord& record);
  // The monitor's side.
  void AddPacketToTree(const PacketRecord& packet) override { Deliver(packet); }
  // GUI thread: the current and every later Deliver return without adding.
  void CancelDelivery() override;

 private:
  void Serve();
  // Adds the pending record if there is one; the lock is held.
  void ServePending();

  PacketTreeModel& m_model;
  std::mutex m_mutex;
  std::condition_variable m_served;
  const PacketRecord* m_pending = nullptr;
  bool m_cancelled = false;
  bool m_serving = false;  // the GUI thread is in Serve and will see the next record
  std::atomic<bool> m_done{false};
  std::atomic<std::uint64_t> m_deliveries{0};
};
