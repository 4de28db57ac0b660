// The traffic tree's model and the hand-off that feeds it from the capture thread.
#include "monitor/packet_tree_model.h"
#include "monitor/packet_handoff.h"
#include "monitor/packet_tree_view.h"

#include <arpa/inet.h>

#include <gtest/gtest.h>

#include <QAbstractItemModelTester>
#include <QCoreApplication>
#include <QPixmap>
#include <QSignalSpy>

#include <atomic>
#include <chrono>
#include <optional>
#include <thread>

namespace {

PacketRecord Record(std::uint16_t srcPort, std::uint8_t flags = 0x02) {
  return {::inet_addr("10.0.0.2"), ::inet_addr("10.0.0.1"), 1000, 0, srcPort, 80, 0, flags};
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

// The source port that the segment item `root` shows (each test segment has its own), or
// -1 for no item.
int PortOf(const QModelIndex& root) {
  if (!root.isValid()) return -1;
  const QModelIndex tcp = root.model()->index(1, 0, root);
  return root.model()->index(0, 0, tcp).data().toString().section(' ', -1).toInt();
}

TEST(PacketTreeModelTest, OldestSegmentsLeaveInOrderPastTheLimit) {
  // The tester walks the whole model at every change: it watches only the small trees.
  for (const std::size_t limit : {1u, 10u, 100u, 6000u}) {
    SCOPED_TRACE(limit);
    PacketTreeModel model(limit);
    std::optional<QAbstractItemModelTester> tester;
    if (limit <= 100) tester.emplace(&model, QAbstractItemModelTester::FailureReportingMode::Fatal);
    const int appended = limit <= 100 ? 500 : 30000;
    const int last = std::max(1, static_cast<int>(limit / 2));
    for (int i = 0; i < appended - last; ++i) model.Append(Record(static_cast<std::uint16_t>(i)));
    // Indexes taken now follow their items while rows above them leave.
    const QPersistentModelIndex leaving = model.index(0, 0);
    const QModelIndex newest = model.index(model.rowCount() - 1, 0);
    const QPersistentModelIndex staying = model.index(4, 0, model.index(1, 0, newest));
    for (int i = appended - last; i < appended; ++i) model.Append(Record(static_cast<std::uint16_t>(i)));

    const int rows = model.rowCount();
    EXPECT_LE(rows, static_cast<int>(limit));
    EXPECT_GE(rows, static_cast<int>(limit - limit / 16));
    for (int row = 0; row < rows; ++row) ASSERT_EQ(PortOf(model.index(row, 0)), appended - rows + row) << row;
    EXPECT_FALSE(leaving.isValid());
    if (limit > 1) {
      ASSERT_TRUE(staying.isValid());
      EXPECT_EQ(staying.data().toString().section(' ', -1), "1000");  // its sequence number
      EXPECT_EQ(PortOf(staying.parent().parent()), appended - last - 1);
    }
    // The blocks of the segments that left are freed: the records of the limit and at
    // most two partly used blocks of 4096 stay.
    EXPECT_LE(model.RetainedBytes(), (limit + 2 * 4096) * (sizeof(PacketRecord) + 1));
  }
}

TEST(PacketTreeModelTest, QueuedSegmentsAppearTogetherAlsoPastTheLimit) {
  PacketTreeModel model(64);
  QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::Fatal);
  QSignalSpy inserted(&model, &QAbstractItemModel::rowsInserted);
  for (std::uint16_t i = 0; i < 40; ++i) model.Queue(Record(i));
  EXPECT_EQ(model.rowCount(), 0);
  model.ShowQueued();
  ASSERT_EQ(inserted.count(), 1);
  EXPECT_EQ(inserted[0].at(1).toInt(), 0);
  EXPECT_EQ(inserted[0].at(2).toInt(), 39);

  // A queue that reaches the limit shows what it holds before the oldest rows leave.
  for (std::uint16_t i = 40; i < 200; ++i) model.Queue(Record(i));
  model.ShowQueued();
  const int rows = model.rowCount();
  EXPECT_GE(rows, 60);
  for (int row = 0; row < rows; ++row) ASSERT_EQ(PortOf(model.index(row, 0)), 200 - rows + row) << row;
}

TEST(PacketTreeViewTest, TopItemAndSelectionStayWhileTheOldestRowsLeave) {
  PacketTreeModel model(320);
  QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::Fatal);
  PacketTreeView view;
  view.setModel(&model);
  view.resize(400, 300);
  view.show();
  std::uint16_t next = 0;
  while (next < 320) model.Append(Record(next++));
  const auto rowOf = [&](int port) { return model.index(port - PortOf(model.index(0, 0)), 0); };
  QCoreApplication::processEvents();
  view.setCurrentIndex(rowOf(120));
  view.expand(rowOf(100));
  view.scrollTo(rowOf(100), QAbstractItemView::PositionAtTop);
  ASSERT_EQ(PortOf(view.indexAt(QPoint(0, 0))), 100);

  // A burst of removals between two layouts, then one removal after each append.
  while (next < 360) model.Append(Record(next++));
  QCoreApplication::processEvents();
  EXPECT_EQ(PortOf(view.indexAt(QPoint(0, 0))), 100);
  for (; next < 390; QCoreApplication::processEvents()) {
    model.Append(Record(next++));
    ASSERT_EQ(PortOf(view.indexAt(QPoint(0, 0))), 100) << next;
  }
  ASSERT_GT(PortOf(model.index(0, 0)), 50);
  EXPECT_TRUE(view.isExpanded(rowOf(100)));
  EXPECT_EQ(view.indexBelow(rowOf(100)), model.index(0, 0, rowOf(100)));
  EXPECT_EQ(PortOf(view.currentIndex()), 120);
  EXPECT_TRUE(view.selectionModel()->isSelected(view.currentIndex()));
  EXPECT_TRUE(view.visualRect(rowOf(120)).isValid());

  // When the items in view leave, the first item comes to the top.
  while (next < 600) model.Append(Record(next++));
  QCoreApplication::processEvents();
  EXPECT_EQ(view.indexAt(QPoint(0, 0)), model.index(0, 0));
  EXPECT_GT(PortOf(model.index(0, 0)), 120);
}

class HandoffTest : public ::testing::Test {
 protected:
  static constexpr std::size_t kCapacity = 64;

  // Runs the GUI thread's events until `done` or 10 s have passed.
  template <typename Done>
  void ServeUntil(Done done) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (!done() && std::chrono::steady_clock::now() < deadline) QCoreApplication::processEvents();
  }

  PacketTreeModel model;
  PacketHandoff handoff{model, kCapacity};
};

TEST_F(HandoffTest, AFasterCaptureThreadLosesNothingAndStaysWithinTheQueueAhead) {
  constexpr int kSegments = 50'000, kBurst = 100;
  QSignalSpy insertions(&model, &QAbstractItemModel::rowsInserted);
  std::atomic<int> returned{0};
  std::thread capture([&] {
    for (int i = 0; i < kSegments; ++i) {
      EXPECT_TRUE(handoff.Deliver(Record(static_cast<std::uint16_t>(i))));
      returned.store(i + 1);
      if ((i + 1) % kBurst == 0) handoff.EndOfBurst();
    }
  });
  ServeUntil([&] {
    // Read before the rows, which only this thread changes.
    const int delivered = returned.load();
    EXPECT_LE(delivered, model.rowCount() + static_cast<int>(kCapacity));
    return model.rowCount() == kSegments;
  });
  capture.join();
  ASSERT_EQ(model.rowCount(), kSegments);
  for (int row = 0; row < kSegments; row += 997) ASSERT_EQ(PortOf(model.index(row, 0)), row);
  EXPECT_EQ(PortOf(model.index(kSegments - 1, 0)), kSegments - 1);
  // The GUI thread is woken at the end of a burst, or when a full queue holds the capture
  // thread (at most once per queue's worth), never per segment.
  EXPECT_LE(insertions.count(), kSegments / kBurst + kSegments / static_cast<int>(kCapacity) + 1);
}

TEST_F(HandoffTest, AFullQueueHoldsTheCaptureThreadUntilTheGuiThreadTakesIt) {
  std::atomic<int> returned{0};
  std::thread capture([&] {
    for (std::uint16_t i = 0; i <= kCapacity; ++i) {
      EXPECT_TRUE(handoff.Deliver(Record(i)));
      ++returned;
    }
    handoff.EndOfBurst();
  });
  while (returned < static_cast<int>(kCapacity)) std::this_thread::yield();
  // The queue is full: the next record waits for the GUI thread, however long it takes.
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  EXPECT_EQ(returned, static_cast<int>(kCapacity));
  EXPECT_EQ(model.rowCount(), 0);
  ServeUntil([&] { return model.rowCount() == static_cast<int>(kCapacity) + 1; });
  capture.join();
  EXPECT_EQ(PortOf(model.index(static_cast<int>(kCapacity), 0)), static_cast<int>(kCapacity));
}

TEST(HandoffBoundTest, ATreeSmallerThanTheQueueKeepsItsBoundAndTheNewestSegments) {
  PacketTreeModel model(32);
  PacketHandoff handoff(model, 256);
  std::thread capture([&] {
    for (std::uint16_t i = 0; i < 200; ++i) EXPECT_TRUE(handoff.Deliver(Record(i)));
    handoff.EndOfBurst();
  });
  capture.join();
  QCoreApplication::processEvents();
  // One drain of 200 segments into a tree of at most 32: it holds 30 to 32, the last ones.
  EXPECT_GE(model.rowCount(), 30);
  EXPECT_LE(model.rowCount(), 32);
  EXPECT_EQ(PortOf(model.index(model.rowCount() - 1, 0)), 199);
  EXPECT_EQ(PortOf(model.index(0, 0)), 200 - model.rowCount());
}

TEST_F(HandoffTest, CancelReleasesAWaitingCaptureThreadWithoutAdding) {
  std::atomic<int> queued{0};
  std::atomic<bool> lastAdded{true};
  std::thread capture([&] {
    for (std::uint16_t i = 0; i < kCapacity; ++i) queued += handoff.Deliver(Record(i));
    lastAdded = handoff.Deliver(Record(kCapacity));  // waits for room
  });
  // The GUI thread serves nothing here, as while it joins a stopping capture thread.
  while (queued < static_cast<int>(kCapacity)) std::this_thread::yield();
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  handoff.CancelDelivery();
  capture.join();
  EXPECT_FALSE(lastAdded);
  // The posted wake-up finds nothing to add, and later deliveries add nothing.
  QCoreApplication::processEvents();
  EXPECT_FALSE(handoff.Deliver(Record(2)));
  EXPECT_EQ(model.rowCount(), 0);
}

TEST_F(HandoffTest, TheGuiThreadItselfAddsDirectlyAfterWhatIsQueued) {
  std::thread capture([&] { EXPECT_TRUE(handoff.Deliver(Record(1))); });
  capture.join();
  EXPECT_TRUE(handoff.Deliver(Record(2)));
  ASSERT_EQ(model.rowCount(), 2);
  EXPECT_EQ(PortOf(model.index(1, 0)), 2);
}

}  // namespace
