// Fuzz target: a run of datagrams through decoding, session tracking, the log and the
// tree model. The input is split into datagrams, each preceded by a 16-bit big-endian
// length (the last one takes what is left), so that one input can open, gap and close
// sessions. The log is kept in memory, written by the same line writer as "Logger.txt",
// so that no input touches the disk.
#include "monitor/packet_record.h"
#include "monitor/packet_tree_model.h"
#include "monitor/traffic_monitor.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>

namespace {

class FuzzTree : public PacketSink {
 public:
  void AddPacketToTree(const PacketFields& fields) override {
    const auto record = PacketRecord::FromFields(fields);
    if (!record) std::abort();  // the log step made texts the tree cannot take
    m_model.Append(*record);
    // Format every item of the new group, as a view would.
    const QModelIndex root = m_model.index(m_model.rowCount() - 1, 0);
    m_texts += m_model.data(root).toString().size();
    for (int header = 0; header < m_model.rowCount(root); ++header) {
      const QModelIndex h = m_model.index(header, 0, root);
      for (int row = 0; row < m_model.rowCount(h); ++row)
        m_texts += m_model.data(m_model.index(row, 0, h)).toString().size();
    }
  }
  int Rows() const { return m_model.rowCount(); }

 private:
  PacketTreeModel m_model;
  qsizetype m_texts = 0;
};

struct FuzzMonitor : CTrafficMonitor {
  using CTrafficMonitor::CTrafficMonitor;
  using CTrafficMonitor::m_logFile;
};

// The tree shows exactly the segments of the log, each on a whole line.
void CheckLogMatchesTree(const std::string& log, int rows) {
  std::size_t lines = 0;
  for (std::size_t at = log.find("\r\n"); at != std::string::npos; at = log.find("\r\n", at + 2)) ++lines;
  if (lines != static_cast<std::size_t>(rows) || !(log.empty() || log.ends_with("\r\n"))) std::abort();
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
  CheckLogMatchesTree(monitor.m_logFile.MemoryText(), tree.Rows());
  return 0;
}
