// brenvo-gencap: writes a capture file of synthetic TCP connections, for tests,
// benchmarks and trying the traffic page with --capture-file.
#include "tools/synthetic_traffic.h"

#include <cstdio>
#include <cstdlib>
#include <exception>
#include <string>

int main(int argc, char** argv) {
  std::uint64_t segments = 1'000'000;
  std::uint32_t connections = 10'000;
  auto format = tools::CaptureWriter::Format::Pcap;
  tools::TrafficShape shape;
  std::string path;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--segments" && i + 1 < argc)
      segments = std::strtoull(argv[++i], nullptr, 10);
    else if (arg == "--connections" && i + 1 < argc)
      connections = static_cast<std::uint32_t>(std::strtoul(argv[++i], nullptr, 10));
    else if (arg == "--pcapng")
      format = tools::CaptureWriter::Format::Pcapng;
    else if (arg == "--realistic")
      shape = tools::kRealisticTraffic;
    else if (path.empty() && arg[0] != '-')
      path = arg;
    else
      path.clear(), i = argc;
  }
  if (path.empty()) {
    std::fprintf(stderr,
                 "usage: brenvo-gencap [--segments N] [--connections C] [--pcapng] [--realistic] FILE\n"
                 "  --realistic: data of 0 to 1400 bytes and TCP options in every segment\n");
    return 2;
  }
  try {
    if (!tools::WriteTrafficCapture(path, segments, connections, format, shape)) {
      std::fprintf(stderr, "brenvo-gencap: cannot write %s\n", path.c_str());
      return 1;
    }
  } catch (const std::exception& e) {
    std::fprintf(stderr, "brenvo-gencap: %s\n", e.what());
    return 2;
  }
  return 0;
}
