#include "monitor/packet_tree_model.h"

namespace {

// An index carries its segment and its kind in its internal id: (segment << 2) | kind.
enum Kind : quintptr { kSegment = 0, kHeader = 1, kIpField = 2, kTcpField = 3 };

quintptr idOf(std::size_t segment, Kind kind) { return static_cast<quintptr>(segment) << 2 | kind; }

Kind kindOf(const QModelIndex& index) { return static_cast<Kind>(index.internalId() & 3); }

std::size_t segmentOf(const QModelIndex& index) { return static_cast<std::size_t>(index.internalId() >> 2); }

PacketRecord::Header headerAt(int row) { return row == 0 ? PacketRecord::Header::Ip : PacketRecord::Header::Tcp; }

}  // namespace

PacketTreeModel::PacketTreeModel(QObject* parent) : QAbstractItemModel(parent) {}

PacketTreeModel::~PacketTreeModel() = default;

void PacketTreeModel::Append(const PacketRecord& record) {
  if (m_count % kBlock == 0) m_blocks.push_back(std::make_unique_for_overwrite<PacketRecord[]>(kBlock));
  const int row = static_cast<int>(m_count);
  beginInsertRows({}, row, row);
  m_blocks.back()[m_count % kBlock] = record;
  ++m_count;
  endInsertRows();
}

void PacketTreeModel::SetIcons(const std::array<QIcon, 3>& icons) {
  m_icons = icons;
  if (m_count != 0) emit dataChanged(index(0, 0), index(static_cast<int>(m_count) - 1, 0), {Qt::DecorationRole});
}

std::size_t PacketTreeModel::RetainedBytes() const {
  return m_blocks.size() * kBlock * sizeof(PacketRecord) + m_blocks.capacity() * sizeof(m_blocks[0]);
}

const PacketRecord& PacketTreeModel::Record(std::size_t segment) const {
  return m_blocks[segment / kBlock][segment % kBlock];
}

QModelIndex PacketTreeModel::index(int row, int column, const QModelIndex& parent) const {
  if (row < 0 || column != 0 || row >= rowCount(parent)) return {};
  if (!parent.isValid()) return createIndex(row, 0, idOf(static_cast<std::size_t>(row), kSegment));
  const std::size_t segment = segmentOf(parent);
  if (kindOf(parent) == kSegment) return createIndex(row, 0, idOf(segment, kHeader));
  return createIndex(row, 0, idOf(segment, parent.row() == 0 ? kIpField : kTcpField));
}

QModelIndex PacketTreeModel::parent(const QModelIndex& child) const {
  if (!child.isValid()) return {};
  const std::size_t segment = segmentOf(child);
  switch (kindOf(child)) {
    case kSegment: return {};
    case kHeader: return createIndex(static_cast<int>(segment), 0, idOf(segment, kSegment));
    case kIpField: return createIndex(0, 0, idOf(segment, kHeader));
    default: return createIndex(1, 0, idOf(segment, kHeader));
  }
}

int PacketTreeModel::rowCount(const QModelIndex& parent) const {
  if (!parent.isValid()) return static_cast<int>(m_count);
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
