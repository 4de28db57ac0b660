// The traffic tree's view: its rows through expanded items, what a user does with it, and
// its look beside the tree control's.
#include "monitor/packet_tree_view.h"

#include "framework/controls.h"
#include "framework/dialog.h"
#include "monitor/packet_tree_model.h"
#include "resources/resource.h"

#include <arpa/inet.h>

#include <gtest/gtest.h>

#include <QApplication>
#include <QScrollBar>
#include <QStandardItemModel>
#include <QTest>

#include <vector>

namespace {

PacketRecord Record(std::uint16_t srcPort) {
  return {::inet_addr("10.0.0.2"), ::inet_addr("10.0.0.1"), 1000, 0, srcPort, 80, 0, 0x02};
}

// The segment item that shows source port `port`, or an invalid index.
QModelIndex Segment(const PacketTreeModel& model, int port) {
  const QModelIndex tcp = model.index(1, 0, model.index(0, 0));
  const int first = model.index(0, 0, tcp).data().toString().section(' ', -1).toInt();
  return model.index(port - first, 0);
}

// The rows a tree shows, worked out from the model and the view's expanded items alone.
void Rows(const PacketTreeView& view, const QModelIndex& parent, std::vector<QModelIndex>& rows) {
  for (int row = 0; row < view.model()->rowCount(parent); ++row) {
    const QModelIndex index = view.model()->index(row, 0, parent);
    rows.push_back(index);
    if (view.isExpanded(index)) Rows(view, index, rows);
  }
}

// Every row is where the walk puts it, the top row at the top of the viewport; the scroll
// range holds them all.
void ExpectRowsInPlace(const PacketTreeView& view) {
  std::vector<QModelIndex> rows;
  Rows(view, {}, rows);
  const int height = view.visualRect(rows[0]).height();
  const int top = view.verticalScrollBar()->value();
  ASSERT_EQ(view.verticalScrollBar()->maximum() + view.verticalScrollBar()->pageStep(), static_cast<int>(rows.size()));
  for (std::size_t row = 0; row < rows.size(); ++row)
    ASSERT_EQ(view.visualRect(rows[row]).top(), (static_cast<int>(row) - top) * height) << row;
  for (int row = top; row < top + view.verticalScrollBar()->pageStep(); ++row)
    ASSERT_EQ(view.indexAt(QPoint(50, (row - top) * height + height / 2)), rows[static_cast<std::size_t>(row)]) << row;
  for (std::size_t row = 0; row + 1 < rows.size(); ++row) ASSERT_EQ(view.indexBelow(rows[row]), rows[row + 1]) << row;
}

class PacketTreeViewWorld : public ::testing::Test {
 protected:
  void Show(std::size_t limit, int segments) {
    model.emplace(limit);
    SetWindowStyle(&view, TVS_HASBUTTONS | TVS_HASLINES);
    view.PreSubclassWindow();
    view.setModel(&*model);
    view.resize(400, 200);
    view.show();
    for (int port = 0; port < segments; ++port) model->Append(Record(static_cast<std::uint16_t>(port)));
  }
  QPoint Centre(const QModelIndex& index) const { return view.visualRect(index).center(); }
  // The button of an item below the top level, in its own column of the indentation.
  QPoint Button(const QModelIndex& index) const {
    const QRect rect = view.visualRect(index);
    return {rect.left() - view.indentation() / 2, rect.center().y()};
  }

  std::optional<PacketTreeModel> model;
  PacketTreeView view;
};

TEST_F(PacketTreeViewWorld, RowsFollowExpandedItemsAndTheTopItemStaysWhileTheOldestLeave) {
  Show(320, 320);
  const auto header = [&](int port, int row) { return model->index(row, 0, Segment(*model, port)); };
  // A header opened inside a closed segment adds no rows until the segment opens.
  view.expand(header(34, 1));
  ExpectRowsInPlace(view);
  view.expand(Segment(*model, 30));
  view.expand(Segment(*model, 34));
  view.expand(header(30, 0));
  // Open items among the first to leave, whose rows leave with them.
  view.expand(Segment(*model, 5));
  view.expand(header(5, 1));
  ExpectRowsInPlace(view);
  view.setCurrentIndex(Segment(*model, 40));
  view.scrollTo(header(30, 1), QAbstractItemView::PositionAtTop);
  ExpectRowsInPlace(view);
  const int x = 7;
  view.horizontalScrollBar()->setValue(x);

  // Appending at the limit takes the oldest twenty away: the header at the top stays there,
  // items stay open and the selection stays with its item.
  model->Append(Record(320));
  ASSERT_EQ(view.model()->rowCount(), 301);
  EXPECT_EQ(view.indexAt(QPoint(50, 1)), header(30, 1));
  EXPECT_EQ(view.horizontalScrollBar()->value(),
            view.horizontalScrollBar()->maximum() < x ? view.horizontalScrollBar()->maximum() : x);
  EXPECT_TRUE(view.isExpanded(header(34, 1)));
  ExpectRowsInPlace(view);
  EXPECT_EQ(view.currentIndex(), Segment(*model, 40));
  EXPECT_TRUE(view.selectionModel()->isSelected(Segment(*model, 40)));
  for (int port = 321; port < 340; ++port) model->Append(Record(static_cast<std::uint16_t>(port)));
  EXPECT_EQ(view.indexAt(QPoint(50, 1)), header(30, 1));
  ExpectRowsInPlace(view);

  // When the items in view leave, the first item comes to the top, and their open items
  // are forgotten.
  model->Append(Record(340));
  EXPECT_EQ(view.indexAt(QPoint(50, 1)), model->index(0, 0));
  EXPECT_EQ(view.verticalScrollBar()->maximum() + view.verticalScrollBar()->pageStep(), model->rowCount());
  EXPECT_EQ(view.currentIndex(), Segment(*model, 40));
  EXPECT_TRUE(view.selectionModel()->isSelected(Segment(*model, 40)));
  ExpectRowsInPlace(view);
}

TEST_F(PacketTreeViewWorld, TheMouseOpensAndCloses) {
  Show(PacketTreeModel::kDefaultLimit, 50);
  const QModelIndex first = model->index(0, 0), third = model->index(2, 0);
  const QModelIndex ipHeader = model->index(0, 0, third), tcpHeader = model->index(1, 0, third);

  // A double click opens and closes a segment, a click on a header's button opens it without
  // selecting it; the top level has no buttons.
  QTest::mouseDClick(view.viewport(), Qt::LeftButton, {}, Centre(third));
  ASSERT_TRUE(view.isExpanded(third));
  EXPECT_EQ(view.currentIndex(), third);
  QTest::mouseClick(view.viewport(), Qt::LeftButton, {}, Button(tcpHeader));
  EXPECT_TRUE(view.isExpanded(tcpHeader));
  EXPECT_EQ(view.currentIndex(), third);
  ExpectRowsInPlace(view);
  QTest::mouseClick(view.viewport(), Qt::LeftButton, {}, Button(tcpHeader));
  EXPECT_FALSE(view.isExpanded(tcpHeader));
  QTest::mouseClick(view.viewport(), Qt::LeftButton, {}, Centre(first) - QPoint(Centre(first).x() - 2, 0));
  EXPECT_FALSE(view.isExpanded(first));
  EXPECT_EQ(view.currentIndex(), first);
  QTest::mouseDClick(view.viewport(), Qt::LeftButton, {}, Centre(third));
  EXPECT_FALSE(view.isExpanded(third));
}

TEST_F(PacketTreeViewWorld, KeysOpenCloseMoveAndScroll) {
  Show(PacketTreeModel::kDefaultLimit, 50);
  const QModelIndex first = model->index(0, 0), third = model->index(2, 0);
  const QModelIndex ipHeader = model->index(0, 0, third), tcpHeader = model->index(1, 0, third);

  // Right opens, then goes in; Left closes, then goes out; + and - open and close.
  view.setFocus();
  view.setCurrentIndex(third);
  const auto key = [&](Qt::Key k) { QTest::keyClick(&view, k); };
  key(Qt::Key_Right);
  EXPECT_TRUE(view.isExpanded(third));
  EXPECT_EQ(view.currentIndex(), third);
  key(Qt::Key_Right);
  EXPECT_EQ(view.currentIndex(), ipHeader);
  key(Qt::Key_Down);
  EXPECT_EQ(view.currentIndex(), tcpHeader);
  key(Qt::Key_Plus);
  EXPECT_TRUE(view.isExpanded(tcpHeader));
  key(Qt::Key_Right);
  const QModelIndex port = model->index(0, 0, tcpHeader);
  EXPECT_EQ(view.currentIndex(), port);
  key(Qt::Key_Left);
  EXPECT_EQ(view.currentIndex(), tcpHeader);
  key(Qt::Key_Left);
  EXPECT_FALSE(view.isExpanded(tcpHeader));
  key(Qt::Key_Down);
  EXPECT_EQ(view.currentIndex(), model->index(3, 0));
  key(Qt::Key_Up);
  key(Qt::Key_Left);
  EXPECT_EQ(view.currentIndex(), third);
  view.setCurrentIndex(tcpHeader);
  key(Qt::Key_Plus);
  key(Qt::Key_Minus);
  EXPECT_TRUE(view.isExpanded(third));
  EXPECT_FALSE(view.isExpanded(tcpHeader));
  // Closing an item with the current row inside makes the item current.
  view.expand(tcpHeader);
  view.setCurrentIndex(port);
  view.collapse(third);
  EXPECT_EQ(view.currentIndex(), third);
  view.expand(third);

  // Home, End and the pages move over the rows of open items too, and scroll to them.
  key(Qt::Key_End);
  EXPECT_EQ(view.currentIndex(), model->index(49, 0));
  EXPECT_TRUE(view.viewport()->rect().contains(view.visualRect(view.currentIndex())));
  key(Qt::Key_Home);
  EXPECT_EQ(view.currentIndex(), first);
  EXPECT_EQ(view.verticalScrollBar()->value(), 0);
  key(Qt::Key_PageDown);
  std::vector<QModelIndex> rows;
  Rows(view, {}, rows);
  EXPECT_EQ(view.currentIndex(), rows[static_cast<std::size_t>(view.verticalScrollBar()->pageStep())]);
  key(Qt::Key_PageUp);
  EXPECT_EQ(view.currentIndex(), first);
  EXPECT_EQ(view.selectionModel()->selectedIndexes(), QModelIndexList{first});

  // Rows wider than the view scroll sideways, up and down alike.
  view.expand(tcpHeader);
  view.resize(60, 200);
  view.viewport()->grab();  // paints the rows in view
  const int wide = view.horizontalScrollBar()->maximum();
  ASSERT_GT(wide, 0);
  const QRect field = view.visualRect(port);
  view.horizontalScrollBar()->setValue(wide);
  EXPECT_EQ(view.visualRect(port), field.translated(-wide, 0));
  EXPECT_EQ(view.indexAt(view.visualRect(port).center()), port);
  key(Qt::Key_Down);
  EXPECT_EQ(view.horizontalScrollBar()->value(), wide);
}

// A typed letter selects the next row that starts with it, among the next few thousand.
TEST_F(PacketTreeViewWorld, TypingSelectsTheNextRowOfTheLetterNearBy) {
  QApplication::setKeyboardInputInterval(0);  // every key a search of its own
  Show(10000, 5000);
  view.setCurrentIndex(model->index(0, 0));
  view.expand(model->index(4500, 0));
  QTest::keyClick(&view, Qt::Key_I);
  EXPECT_EQ(view.currentIndex(), model->index(0, 0));  // its "IP Header" lies too far on
  view.expand(model->index(100, 0));
  QTest::keyClick(&view, Qt::Key_I);
  EXPECT_EQ(view.currentIndex(), model->index(0, 0, model->index(100, 0)));
  QTest::keyClick(&view, Qt::Key_T);
  EXPECT_EQ(view.currentIndex(), model->index(1, 0, model->index(100, 0)));
}

// Over the same tree, the view draws the very pixels the tree control draws: lines, buttons,
// images, texts and the selection.
TEST(PacketTreeViewLook, IsTheTreeControls) {
  QWidget host;
  CDialog page(IDD_SNIFFER_PAGE);
  page.Create(IDD_SNIFFER_PAGE, &host);
  auto* control = dynamic_cast<CTreeCtrl*>(page.GetDlgItem(IDC_PACKET_TREE));
  ASSERT_NE(control, nullptr);
  QWidget viewHost;
  PacketTreeView view;
  view.setParent(&viewHost);
  SetWindowStyle(&view, GetWindowStyle(control));
  view.PreSubclassWindow();
  view.setFont(control->font());

  QPixmap image(16, 16);
  image.fill(Qt::darkCyan);
  const QIcon icon(image);
  QStandardItemModel model;
  const auto item = [&](const char* text) { return new QStandardItem(icon, text); };
  QStandardItem* segment = item("10.0.0.2 - 10.0.0.1");
  QStandardItem* open = item("TCP Header");
  QStandardItem* closed = item("IP Header");
  open->appendRows({item("Source port:.... 1025"), item("Destination port:.... 80")});
  closed->appendRow(item("Size:.... 20"));
  segment->appendRows({closed, open});
  model.appendRow(segment);
  model.appendRow(item("10.0.0.3 - 10.0.0.1"));

  for (QAbstractItemView* tree : {static_cast<QAbstractItemView*>(control), static_cast<QAbstractItemView*>(&view)}) {
    tree->setModel(&model);
    tree->setIconSize(QSize(16, 16));
    tree->setGeometry(QRect(QPoint(0, 0), control->size()));
    tree->setCurrentIndex(open->child(1)->index());
  }
  control->expand(segment->index());
  control->expand(open->index());
  view.expand(segment->index());
  view.expand(open->index());
  host.resize(page.size());
  host.show();
  page.show();
  viewHost.resize(page.size());
  viewHost.show();

  const QImage drawn = view.viewport()->grab().toImage();
  const QImage expected = control->viewport()->grab().toImage();
  ASSERT_EQ(drawn.size(), expected.size());
  int differ = 0;
  for (int y = 0; y < drawn.height(); ++y) {
    for (int x = 0; x < drawn.width(); ++x) differ += drawn.pixel(x, y) != expected.pixel(x, y);
  }
  EXPECT_EQ(differ, 0);
}

}  // namespace
