#pragma once

#include "monitor/packet_record.h"

#include <QAbstractItemModel>
#include <QIcon>

#include <array>
#include <memory>
#include <vector>

// The traffic tree: one top-level item per TCP segment ("src - dst"), under it "IP
// Header" with two fields and "TCP Header" with six. Only the compact records are kept;
// every text is made when the view asks for it. Items are only ever appended.
class PacketTreeModel : public QAbstractItemModel {
  Q_OBJECT
 public:
  explicit PacketTreeModel(QObject* parent = nullptr);
  ~PacketTreeModel() override;

  void Append(const PacketRecord& record);
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
  // more than one block of spare room.
  static constexpr std::size_t kBlock = 4096;

  const PacketRecord& Record(std::size_t segment) const;

  std::vector<std::unique_ptr<PacketRecord[]>> m_blocks;
  std::size_t m_count = 0;
  std::array<QIcon, 3> m_icons;
};
