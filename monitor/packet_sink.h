#pragma once

#include "monitor/packet_record.h"

// Where the monitor shows each segment it has logged: the traffic page's tree, or what a
// tool or test puts in its place. The capture thread calls it, so it is a separate object
// from whatever owns the monitor, and it must outlive the capture: its owner stops the
// capture before destroying it.
class PacketSink {
 public:
  // On the capture thread, once per logged segment; `packet` is only valid during the call.
  virtual void AddPacketToTree(const PacketRecord& packet) = 0;
  // On the capture thread, after the segments of datagrams that came in together, before it
  // waits for more: a sink may hold its segments back from the tree until then.
  virtual void EndOfBurst() {}
  // On the thread that stops the capture, before it joins the capture thread: releases a
  // call of AddPacketToTree that waits for that thread, and makes every later one return.
  virtual void CancelDelivery() {}

 protected:
  ~PacketSink() = default;
};
