#pragma once
// The tree's side of the monitor benchmarks, as the GUI thread does it under load: each
// segment queued in the model, the views told of them once per burst served (a served burst
// then holds thousands).
#include "monitor/packet_sink.h"
#include "monitor/packet_tree_model.h"

struct ModelSink : PacketSink {
  static constexpr int kBurst = 1000;
  void AddPacketToTree(const PacketRecord& packet) override {
    model.Queue(packet);
    if (++queued % kBurst == 0) model.ShowQueued();
  }
  PacketTreeModel model;
  int queued = 0;
};
