#pragma once

#include "monitor/packet_record.h"

#include <QAbstractItemModel>
#include <QIcon>

#include <array>
#include <deque>
#include <limits>
#include <memory>

// The traffic tree: one top-level item per TCP segment ("src - dst"), under it "IP
// Header" with two fields and "TCP Header" with six. Only the compact records are kept;
// every text is made when the view asks for it.
//
// The tree holds at most a limit of segments. Items are appended at the end; once the
// limit is reached, the oldest sixteenth of it leaves the top of the tree in one removal
// before the next item comes. The tree then holds between fifteen sixteenths of the limit
// and the limit, and a view, which lays out all its rows again after a removal, does so
// once per sixteenth.
//
// Telling the views of new rows costs far more than storing a record, so a burst of
// segments can be queued and shown with one insertion of rows.
class PacketTreeModel : public QAbstractItemModel {
  Q_OBJECT
 public:
  static constexpr std::size_t kDefaultLimit = 4'000'000;
  static constexpr std::size_t kMaxLimit = std::numeric_limits<int>::max();  // rows are ints

  // A limit outside 1 to kMaxLimit is taken as the nearest of the two.
  explicit PacketTreeModel(std::size_t limit = kDefaultLimit, QObject* parent = nullptr);
  ~PacketTreeModel() override;

  // Appends a segment; the views see it at once.
  void Append(const PacketRecord& record) {
    Queue(record);
    ShowQueued();
  }
  // Stores a segment at the end, out of the views' sight (rowCount() leaves it out) until
  // ShowQueued().
  void Queue(const PacketRecord& record);
  void ShowQueued();
  // Images 0, 1 and 2: segment, header, field.
  void SetIcons(const std::array<QIcon, 3>& icons);
  // Memory held for the records, per stored segment included.
  std::size_t RetainedBytes() const;

  QModelIndex index(int row, int column, const QModelIndex& parent = {}) const override;
  QModelIndex parent(const QModelIndex& child) const override;
  int rowCount(const QModelIndex& parent = {}) const override;
  int columnCount(const QModelIndex& parent = {}) const override;
  QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;

 private:
  // Records live in fixed blocks, so that growth never copies them and never holds
  // more than one block of spare room; a block is freed once all its segments left.
  static constexpr std::size_t kBlock = 4096;

  // Segments are numbered from the first one appended; an index carries its number,
  // which stays right while the rows above it leave.
  const PacketRecord& Record(std::size_t segment) const;
  void RemoveOldest(std::size_t count);

  std::size_t m_limit;
  std::deque<std::unique_ptr<PacketRecord[]>> m_blocks;
  std::size_t m_firstBlock = 0;  // the number of the block m_blocks[0]
  std::size_t m_first = 0;       // the number of the segment in row 0
  std::size_t m_shown = 0;       // one past the number of the last segment the views know
  std::size_t m_end = 0;         // one past the number of the last segment
  std::array<QIcon, 3> m_icons;
};
