#include "monitor/packet_tree_model.h"

#include <algorithm>

namespace {

// An index carries its segment's number and its kind in its internal id: (segment << 2) |
// kind. Numbers only grow; 62 bits of them outlast any capture.
static_assert(sizeof(quintptr) >= 8);
enum Kind : quintptr { kSegment = 0, kHeader = 1, kIpField = 2, kTcpField = 3 };

quintptr idOf(std::size_t segment, Kind kind) { return static_cast<quintptr>(segment) << 2 | kind; }

Kind kindOf(const QModelIndex& index) { return static_cast<Kind>(index.internalId() & 3); }

std::size_t segmentOf(const QModelIndex& index) { return static_cast<std::size_t>(index.internalId() >> 2); }

PacketRecord::Header headerAt(int row) { return row == 0 ? PacketRecord::Header::Ip : PacketRecord::Header::Tcp; }

}  // namespace

PacketTreeModel::PacketTreeModel(std::size_t limit, QObject* parent)
    : QAbstractItemModel(parent), m_limit(std::clamp<std::size_t>(limit, 1, kMaxLimit)) {}

PacketTreeModel::~PacketTreeModel() = default;

void PacketTreeModel::Queue(const PacketRecord& record) {
  if (m_end - m_first == m_limit) {
    // The rows that leave are the views' oldest, which they must know first.
    ShowQueued();
    RemoveOldest(std::max<std::size_t>(1, m_limit / 16));
  }
  if (m_end % kBlock == 0) m_blocks.push_back(std::make_unique_for_overwrite<PacketRecord[]>(kBlock));
  m_blocks.back()[m_end % kBlock] = record;
  ++m_end;
}

void PacketTreeModel::ShowQueued() {
  if (m_shown == m_end) return;
  beginInsertRows({}, static_cast<int>(m_shown - m_first), static_cast<int>(m_end - m_first - 1));
  m_shown = m_end;
  endInsertRows();
}

void PacketTreeModel::RemoveOldest(std::size_t count) {
  beginRemoveRows({}, 0, static_cast<int>(count) - 1);
  m_first += count;
  for (; m_firstBlock < m_first / kBlock; ++m_firstBlock) m_blocks.pop_front();
  endRemoveRows();
}

void PacketTreeModel::SetIcons(const std::array<QIcon, 3>& icons) {
  m_icons = icons;
  if (const int rows = rowCount(); rows != 0) emit dataChanged(index(0, 0), index(rows - 1, 0), {Qt::DecorationRole});
}

std::size_t PacketTreeModel::RetainedBytes() const {
  return m_blocks.size() * (kBlock * sizeof(PacketRecord) + sizeof(m_blocks[0]));
}

const PacketRecord& PacketTreeModel::Record(std::size_t segment) const {
  return m_blocks[segment / kBlock - m_firstBlock][segment % kBlock];
}

QModelIndex PacketTreeModel::index(int row, int column, const QModelIndex& parent) const {
  if (row < 0 || column != 0 || row >= rowCount(parent)) return {};
  if (!parent.isValid()) return createIndex(row, 0, idOf(m_first + static_cast<std::size_t>(row), kSegment));
  const std::size_t segment = segmentOf(parent);
  if (kindOf(parent) == kSegment) return createIndex(row, 0, idOf(segment, kHeader));
  return createIndex(row, 0, idOf(segment, parent.row() == 0 ? kIpField : kTcpField));
}

QModelIndex PacketTreeModel::parent(const QModelIndex& child) const {
  if (!child.isValid()) return {};
  const std::size_t segment = segmentOf(child);
  switch (kindOf(child)) {
    case kSegment: return {};
    case kHeader: return createIndex(static_cast<int>(segment - m_first), 0, idOf(segment, kSegment));
    case kIpField: return createIndex(0, 0, idOf(segment, kHeader));
    default: return createIndex(1, 0, idOf(segment, kHeader));
  }
}

int PacketTreeModel::rowCount(const QModelIndex& parent) const {
  if (!parent.isValid()) return static_cast<int>(m_shown - m_first);
  if (parent.column() != 0) return 0;
  switch (kindOf(parent)) {
    case kSegment: return 2;
    case kHeader: return PacketRecord::FieldCount(headerAt(parent.row()));
    default: return 0;
  }
}

int PacketTreeModel::columnCount(const QModelIndex&) const { return 1; }

QVariant PacketTreeModel::data(const QModelIndex& index, int role) const {
  if (!index.isValid() || (role != Qt::DisplayRole && role != Qt::DecorationRole)) return {};
  const Kind kind = kindOf(index);
  if (role == Qt::DecorationRole) return m_icons[kind == kSegment ? 0 : kind == kHeader ? 1 : 2];
  const PacketRecord& record = Record(segmentOf(index));
  switch (kind) {
    case kSegment: return QString::fromStdString(record.RootText());
    case kHeader: return QString::fromLatin1(PacketRecord::HeaderText(headerAt(index.row())));
    case kIpField: return QString::fromStdString(record.FieldText(PacketRecord::Header::Ip, index.row()));
    default: return QString::fromStdString(record.FieldText(PacketRecord::Header::Tcp, index.row()));
  }
}
