// Fuzz target: a run of datagrams through decoding, session tracking, the log and the
// tree model. The input is split into datagrams, each preceded by a 16-bit big-endian
// length (the last one takes what is left), so that one input can open, gap and close
// sessions. The log is kept in memory, written by the same line writer as "Logger.txt",
// so that no input touches the disk.
#include "monitor/packet_tree_model.h"
#include "monitor/traffic_monitor.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <iterator>
#include <string>
#include <string_view>
#include <vector>

namespace {

// The tree, and what each of its segments says its log line must begin with, rebuilt
// from the texts the view would show.
class FuzzTree : public PacketSink {
 public:
  void AddPacketToTree(const PacketRecord& packet) override {
    m_model.Append(packet);
    const QModelIndex root = m_model.index(m_model.rowCount() - 1, 0);
    std::string texts[8];
    int field = 0;
    for (int header = 0; header < m_model.rowCount(root); ++header) {
      const QModelIndex h = m_model.index(header, 0, root);
      for (int row = 0; row < m_model.rowCount(h); ++row)
        texts[field++] = m_model.data(m_model.index(row, 0, h)).toString().toStdString().substr(kLabelWidth);
    }
    if (field != 8) std::abort();
    m_linePrefixes.push_back(m_model.data(root).toString().toStdString() + " {" + texts[2] + "-" + texts[3] +
                             "}, len: " + texts[4] + ", seq: " + texts[6] + ",ack: " + texts[7] +
                             ", Flags: " + texts[5] + " ");
  }
  const std::vector<std::string>& LinePrefixes() const { return m_linePrefixes; }

 private:
  static inline const std::size_t kLabelWidth = CTrafficMonitor::PadLabel("").size();
  PacketTreeModel m_model;
  std::vector<std::string> m_linePrefixes;
};

struct FuzzMonitor : CTrafficMonitor {
  using CTrafficMonitor::CTrafficMonitor;
  using CTrafficMonitor::m_logFile;
};

// The tree shows exactly the segments of the log, in its order, with the texts of its
// lines, and the log holds whole lines only.
void CheckLogMatchesTree(const std::string& log, const std::vector<std::string>& linePrefixes) {
  static constexpr std::string_view kMarkers[] = {"", CTrafficMonitor::kNewSession, CTrafficMonitor::kGapBelow,
                                                  CTrafficMonitor::kGapAbove};
  std::size_t start = 0;
  for (const std::string& prefix : linePrefixes) {
    const std::size_t end = log.find("\r\n", start);
    if (end == std::string::npos) std::abort();
    const std::string_view line(log.data() + start, end - start);
    if (!line.starts_with(prefix) ||
        std::find(std::begin(kMarkers), std::end(kMarkers), line.substr(prefix.size())) == std::end(kMarkers))
      std::abort();
    start = end + 2;
  }
  if (start != log.size()) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  // A monitor per input keeps every run reproducible from its input alone.
  FuzzTree tree;
  FuzzMonitor monitor(tree, LogFile::InMemory());
  while (size >= 2) {
    std::size_t length = std::size_t(data[0]) << 8 | data[1];
    data += 2;
    size -= 2;
    if (length > size) length = size;
    // An exact-size copy, so that any read past the datagram is caught.
    auto* datagram = static_cast<std::uint8_t*>(std::malloc(length ? length : 1));
    std::copy(data, data + length, datagram);
    monitor.DecodeIpPacket(datagram, static_cast<std::uint32_t>(length));
    std::free(datagram);
    data += length;
    size -= length;
  }
  CheckLogMatchesTree(monitor.m_logFile.MemoryText(), tree.LinePrefixes());
  return 0;
}
