// The traffic tree's model and the hand-off that feeds it from the capture thread.
#include "monitor/packet_tree_model.h"
#include "monitor/packet_handoff.h"
#include "monitor/packet_tree_view.h"
#include "monitor/traffic_monitor.h"

#include <gtest/gtest.h>

#include <QAbstractItemModelTester>
#include <QCoreApplication>
#include <QPixmap>
#include <QSignalSpy>

#include <atomic>
#include <chrono>
#include <thread>

namespace {

PacketRecord Record(std::uint16_t srcPort, std::uint8_t flags = 0x02) {
  PacketFields fields{
      "10.0.0.2", "10.0.0.1", std::to_string(srcPort), "80", "0", CTrafficMonitor::FormatTcpFlags(flags), "1000", "0"};
  return *PacketRecord::FromFields(fields);
}

// Every item under `parent`, depth first, as "text" lines indented by level.
void Collect(const QAbstractItemModel& model, const QModelIndex& parent, int level, QStringList& out) {
  for (int row = 0; row < model.rowCount(parent); ++row) {
    const QModelIndex index = model.index(row, 0, parent);
    out << QString(level, ' ') + index.data().toString();
    Collect(model, index, level + 1, out);
  }
}

TEST(PacketTreeModelTest, EachSegmentIsAGroupOfElevenItems) {
  PacketTreeModel model;
  QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::Fatal);
  model.Append(Record(1025));
  model.Append(Record(1026, 0x01));

  QStringList items;
  Collect(model, {}, 0, items);
  ASSERT_EQ(items.size(), 22);
  const QStringList first = items.mid(0, 11);
  EXPECT_EQ(first, (QStringList{
                       "10.0.0.2 - 10.0.0.1",
                       " IP Header",
                       "  Source IP:.............................. 10.0.0.2",
                       "  Destination IP:......................... 10.0.0.1",
                       " TCP Header",
                       "  Source Port:............................ 1025",
                       "  Destination Port:....................... 80",
                       "  Size:................................... 0",
                       "  Flags:.................................. SYN,TAPI",
                       "  Sequence:............................... 1000",
                       "  Ack:.................................... 0",
                   }));
  EXPECT_EQ(items[16], "  Source Port:............................ 1026");
  EXPECT_EQ(items[19], "  Flags:.................................. FIN,NETDEV");
}

TEST(PacketTreeModelTest, ItemsShowTheirLevelsImage) {
  PacketTreeModel model;
  QPixmap red(16, 16), green(16, 16), blue(16, 16);
  red.fill(Qt::red);
  green.fill(Qt::green);
  blue.fill(Qt::blue);
  model.Append(Record(1));
  QSignalSpy changed(&model, &QAbstractItemModel::dataChanged);
  model.SetIcons({QIcon(red), QIcon(green), QIcon(blue)});
  EXPECT_EQ(changed.count(), 1);

  const auto colour = [&](const QModelIndex& index) {
    return index.data(Qt::DecorationRole).value<QIcon>().pixmap(16, 16).toImage().pixelColor(8, 8);
  };
  const QModelIndex root = model.index(0, 0);
  const QModelIndex tcp = model.index(1, 0, root);
  EXPECT_EQ(colour(root), QColor(Qt::red));
  EXPECT_EQ(colour(tcp), QColor(Qt::green));
  EXPECT_EQ(colour(model.index(5, 0, tcp)), QColor(Qt::blue));
  EXPECT_EQ(colour(model.index(1, 0, model.index(0, 0, root))), QColor(Qt::blue));
}

TEST(PacketTreeModelTest, GrowsByAppendingOnlyAndStaysCompact) {
  // Many blocks' worth; the tester, which walks the model on every insertion, is
  // attached in the other tests.
  PacketTreeModel model;
  QSignalSpy inserted(&model, &QAbstractItemModel::rowsInserted);
  constexpr int kSegments = 50000;
  for (int i = 0; i < kSegments; ++i) model.Append(Record(static_cast<std::uint16_t>(i)));
  ASSERT_EQ(model.rowCount(), kSegments);
  ASSERT_EQ(inserted.count(), kSegments);
  EXPECT_EQ(inserted.last().at(1).toInt(), kSegments - 1);
  EXPECT_FALSE(inserted.last().at(0).value<QModelIndex>().isValid());
  // The last record is still its own after the storage has grown many times.
  const QModelIndex last = model.index(kSegments - 1, 0);
  EXPECT_EQ(model.index(0, 0, model.index(1, 0, last)).data().toString().right(5), "49999");
  EXPECT_LE(model.RetainedBytes(), 48u * kSegments);
}

TEST(PacketTreeModelTest, IndexesOutsideTheTreeAreInvalid) {
  PacketTreeModel model;
  QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::Fatal);
  for (int i = 0; i < 300; ++i) model.Append(Record(static_cast<std::uint16_t>(i)));
  const QModelIndex root = model.index(299, 0);
  EXPECT_FALSE(model.index(300, 0).isValid());
  EXPECT_FALSE(model.index(0, 1).isValid());
  EXPECT_FALSE(model.index(2, 0, root).isValid());
  EXPECT_FALSE(model.index(2, 0, model.index(0, 0, root)).isValid());
  EXPECT_FALSE(model.index(6, 0, model.index(1, 0, root)).isValid());
  EXPECT_EQ(model.rowCount(model.index(0, 0, model.index(0, 0, root))), 0);
}

TEST(PacketTreeViewTest, RowsOfABurstAllAppearAndOpenItemsStayOpen) {
  PacketTreeModel model;
  PacketTreeView view;
  view.setModel(&model);
  view.resize(400, 300);
  view.show();
  model.Append(Record(0));
  view.expand(model.index(0, 0));
  for (int i = 1; i < 3000; ++i) {
    model.Append(Record(static_cast<std::uint16_t>(i)));
    QCoreApplication::processEvents();
  }
  const QModelIndex last = model.index(2999, 0);
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
  while (!view.visualRect(last).isValid() && std::chrono::steady_clock::now() < deadline)
    QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
  EXPECT_TRUE(view.visualRect(last).isValid());
  EXPECT_TRUE(view.isExpanded(model.index(0, 0)));
  // The open item's headers come right after it.
  EXPECT_EQ(view.indexBelow(model.index(0, 0)), model.index(0, 0, model.index(0, 0)));
}

class HandoffTest : public ::testing::Test {
 protected:
  PacketTreeModel model;
  PacketHandoff handoff{model};
};

TEST_F(HandoffTest, CaptureThreadWaitsUntilItsSegmentIsInTheModel) {
  std::atomic<int> returned{0};
  std::vector<int> rowsSeenOnReturn;
  std::thread capture([&] {
    for (std::uint16_t i = 0; i < 100; ++i) {
      EXPECT_TRUE(handoff.Deliver(Record(i)));
      ++returned;
    }
  });
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (returned < 100 && std::chrono::steady_clock::now() < deadline) {
    QCoreApplication::processEvents();
    // Each call that has returned has added its segment; none is added ahead of it.
    const int done = returned;
    EXPECT_GE(model.rowCount(), done);
    EXPECT_LE(model.rowCount(), done + 1);
  }
  capture.join();
  EXPECT_EQ(model.rowCount(), 100);
  EXPECT_TRUE(model.index(99, 0).isValid());
}

TEST_F(HandoffTest, CancelReleasesAWaitingCaptureThreadWithoutAdding) {
  std::atomic<bool> result{true};
  std::thread capture([&] { result = handoff.Deliver(Record(1)); });
  // The GUI thread serves nothing here, as while it joins a stopping capture thread.
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  handoff.CancelDelivery();
  capture.join();
  EXPECT_FALSE(result);
  // The queued call finds nothing to add, and later deliveries add nothing.
  QCoreApplication::processEvents();
  EXPECT_FALSE(handoff.Deliver(Record(2)));
  EXPECT_EQ(model.rowCount(), 0);
}

TEST_F(HandoffTest, TheGuiThreadItselfAddsDirectly) {
  EXPECT_TRUE(handoff.Deliver(Record(1)));
  EXPECT_EQ(model.rowCount(), 1);
}

}  // namespace
