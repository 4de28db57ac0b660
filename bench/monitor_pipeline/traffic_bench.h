#pragma once
// What the traffic monitor's benchmarks share: the capture file they read, made in a
// temporary folder from the command line's sizes, and the tree's side of the pipeline.
//
// usage of a benchmark: NAME [segments [connections [runs]]]
#include <stdlib.h>

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>

#include "monitor/packet_sink.h"
#include "monitor/packet_tree_model.h"
#include "tools/synthetic_traffic.h"

// A capture file of `segments` TCP segments over `connections` connections (1,000,000 and
// 10,000 unless the command line says otherwise) of the sizes `shape` gives, to and from
// `server`, in a folder removed at the end.
struct TrafficBench {
  TrafficBench(int argc, char** argv, tools::TrafficShape shape = {}, const std::string& server = "10.0.0.1")
      : segments(argc > 1 ? std::strtoull(argv[1], nullptr, 10) : 1'000'000),
        connections(argc > 2 ? static_cast<std::uint32_t>(std::strtoul(argv[2], nullptr, 10)) : 10'000),
        runs(argc > 3 ? std::atoi(argv[3]) : 5) {
    std::string pattern = (std::filesystem::temp_directory_path() / "brenvo-bench-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) std::exit(1);
    dir = pattern;
    file = (dir / "traffic.pcap").string();
    if (!tools::WriteTrafficCapture(file, segments, connections, tools::CaptureWriter::Format::Pcap, shape, server))
      std::exit(1);
    std::printf("capture file: %llu segments over %u connections, %.1f MB\n", static_cast<unsigned long long>(segments),
                connections, std::filesystem::file_size(file) / 1e6);
  }
  ~TrafficBench() { std::filesystem::remove_all(dir); }
  TrafficBench(const TrafficBench&) = delete;
  TrafficBench& operator=(const TrafficBench&) = delete;

  std::uint64_t segments;
  std::uint32_t connections;
  int runs;
  std::filesystem::path dir;
  std::string file;
};

// The tree's side as the GUI thread does it under load: each segment queued in the model,
// the views told of them once per burst served (a served burst then holds thousands).
struct ModelSink : PacketSink {
  static constexpr int kBurst = 1000;
  void AddPacketToTree(const PacketRecord& packet) override {
    model.Queue(packet);
    if (++queued % kBurst == 0) model.ShowQueued();
  }
  PacketTreeModel model;
  int queued = 0;
};
