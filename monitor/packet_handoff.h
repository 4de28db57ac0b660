#pragma once

#include "monitor/packet_record.h"
#include "monitor/packet_sink.h"

#include <QObject>

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>

class PacketTreeModel;

// Carries the segments from the capture thread to the model on the GUI thread through a
// bounded queue with one writer and one reader. The capture thread copies each record in
// and goes on; at the end of a burst (the datagrams that came in together, see
// PacketSink::EndOfBurst), records that find no wake-up pending post one event to the GUI
// thread, which then takes everything queued and tells the views with one insertion of
// rows. Under load the GUI thread thus serves hundreds or thousands of segments per event,
// and between two events it paints and takes input. With no traffic nothing wakes it.
//
// A full queue makes the capture thread wait for room, so the capture never runs more
// than the queue's size ahead of the tree, and nothing is dropped. CancelDelivery()
// releases a waiting capture thread and makes every later delivery return at once without
// adding, so that a stop can join the capture thread while the GUI thread serves nothing;
// records still queued then never reach the model.
class PacketHandoff : public QObject, public PacketSink {
  Q_OBJECT
 public:
  static constexpr std::size_t kDefaultCapacity = 65536;

  // `capacity` is rounded up to a power of two.
  explicit PacketHandoff(PacketTreeModel& model, std::size_t capacity = kDefaultCapacity, QObject* parent = nullptr);
  ~PacketHandoff() override;

  // The capture thread (one at a time): queues a copy of the record, waiting while the
  // queue is full. False, with nothing queued, once the hand-off is cancelled. On the GUI
  // thread itself the record goes straight to the model, after those queued before it.
  bool Deliver(const PacketRecord& record);
  // The capture thread: wakes the GUI thread for what it queued, unless a wake-up is pending.
  void EndOfBurst() override;
  // The monitor's side.
  void AddPacketToTree(const PacketRecord& packet) override { Deliver(packet); }
  // Any thread: releases a waiting Deliver and makes every later one return false.
  void CancelDelivery() override;

 private:
  // GUI thread, called by the posted wake-up: moves everything queued into the model and
  // shows it with one insertion.
  void Drain();
  // The capture thread: waits until the queue has room for the record at `tail`; false
  // when cancelled meanwhile.
  bool WaitForRoom(std::uint64_t tail);

  PacketTreeModel& m_model;
  const std::size_t m_mask;
  const std::unique_ptr<PacketRecord[]> m_ring;

  // Records are numbered from the first one queued; slot = number & m_mask. The writer's
  // and the reader's positions live on cache lines of their own.
  alignas(64) std::atomic<std::uint64_t> m_tail{0};  // one past the last record queued
  std::uint64_t m_headSeen = 0;                      // the writer's last look at m_head
  alignas(64) std::atomic<std::uint64_t> m_head{0};  // the next record the reader takes
  std::atomic<bool> m_wakePending{false};            // a Drain is posted and has not yet looked
  std::atomic<bool> m_writerWaits{false};
  std::atomic<bool> m_cancelled{false};
  std::mutex m_mutex;  // only for waiting on a full queue
  std::condition_variable m_room;
};
