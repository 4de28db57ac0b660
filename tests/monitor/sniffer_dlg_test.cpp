// The "View Traffic" page: its set-up, the updater, the tree it fills, and its stop.
#include "monitor/sniffer_dlg.h"
#include "framework/modal_services.h"
#include "resources/resource.h"
#include "tests/monitor/monitor_test_support.h"
#include "tools/packet_builder.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFontInfo>
#include <QTest>

#include <chrono>
#include <fstream>

namespace {

using namespace std::chrono_literals;

class TestPage : public CSnifferDlg {
 public:
  using CSnifferDlg::CSnifferDlg;
  using CTrafficMonitor::m_addresses;
  using CTrafficMonitor::m_bindAddress;
  using CTrafficMonitor::m_hThread;
  PacketTreeModel& Model() { return *static_cast<PacketTreeModel*>(m_tree.model()); }
};

struct StartedProgram {
  QString program;
  QStringList arguments;
  bool captureRunning;
};

class RecordingServices : public ModalServices {
 public:
  int MessageBox(QWidget*, const QString&, const QString&, UINT) override { return IDOK; }
  std::optional<QStringList> OpenFileDialog(QWidget*, const QString&, bool) override { return std::nullopt; }
  bool OpenUrl(const QString&) override { return true; }
  bool StartProgram(const QString& program, const QStringList& arguments) override {
    started.push_back({program, arguments, page != nullptr && page->m_hThread.joinable()});
    return true;
  }

  TestPage* page = nullptr;
  std::vector<StartedProgram> started;
};

// A file that exists only while this object lives.
class ScopedFile {
 public:
  explicit ScopedFile(QString path) : m_path(std::move(path)) { QFile(m_path).open(QIODevice::WriteOnly); }
  ~ScopedFile() { QFile::remove(m_path); }

 private:
  QString m_path;
};

class SnifferPageTest : public ::testing::Test {
 protected:
  SnifferPageTest() { host.resize(497, 229); }

  // Builds the page as the main window does: constructed, addresses found, then created.
  void Create(std::vector<std::string> addresses = {"192.168.0.10", "10.1.2.3"}) {
    page = new TestPage(&host, dir.path().string());
    services.page = page;
    page->m_addresses = std::move(addresses);
    ASSERT_TRUE(page->Create(IDD_SNIFFER_PAGE, &host));
  }

  bool WaitForRows(int rows) {
    const auto deadline = std::chrono::steady_clock::now() + 5s;
    while (page->Model().rowCount() < rows && std::chrono::steady_clock::now() < deadline)
      QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    return page->Model().rowCount() >= rows;
  }

  monitor_test::Script script;
  monitor_test::ScriptedCapture scripted{script};
  TempDir dir;
  RecordingServices services;
  ScopedModalServices installed{services};
  QWidget host;
  TestPage* page = nullptr;  // owned by host
};

TEST_F(SnifferPageTest, SelectorHoldsTheAddressesInTextOrderAndTheFirstIsBound) {
  Create();
  EXPECT_EQ(page->m_interfaceCombo.GetCount(), 2);
  EXPECT_EQ(page->m_interfaceCombo.GetLBText(0), "10.1.2.3");
  EXPECT_EQ(page->m_interfaceCombo.GetLBText(1), "192.168.0.10");
  EXPECT_EQ(page->m_bindAddress, "10.1.2.3");
  {
    std::unique_lock lock(script.mutex);
    script.changed.wait_for(lock, 5s, [&] { return script.receives > 0; });
  }
  EXPECT_EQ(script.boundAddress, ws::inet_addr("10.1.2.3"));
  // The selector and its group exist, hidden; the tree fills the page.
  EXPECT_FALSE(page->m_interfaceCombo.isVisibleTo(page));
  EXPECT_FALSE(page->m_interfaceGroup.isVisibleTo(page));
  EXPECT_EQ(page->m_tree.geometry(), QRect(0, 0, 497, 229));
}

TEST_F(SnifferPageTest, ResizingLeavesTheTreeWhereTheTemplatePutIt) {
  Create();
  host.show();
  page->show();
  page->resize(600, 400);
  QCoreApplication::processEvents();
  EXPECT_EQ(page->m_tree.geometry(), QRect(0, 0, 497, 229));
}

TEST_F(SnifferPageTest, UpdaterBesideTheExecutableStartsOnceBeforeTheCapture) {
  const QString updater = QDir(QCoreApplication::applicationDirPath()).absoluteFilePath("UpdateApp.exe");
  ScopedFile file(updater);
  Create();
  ASSERT_EQ(services.started.size(), 1u);
  EXPECT_EQ(services.started[0].program, updater);
  EXPECT_EQ(services.started[0].arguments, (QStringList{"Brenvo", "41", "4.0.3"}));
  EXPECT_FALSE(services.started[0].captureRunning);
  EXPECT_TRUE(page->m_hThread.joinable());
}

TEST_F(SnifferPageTest, UpdaterInTheCurrentDirectoryIsNeverStarted) {
  const QString previous = QDir::currentPath();
  ASSERT_TRUE(QDir::setCurrent(QString::fromStdString(dir.path().string())));
  ScopedFile planted("UpdateApp.exe");
  Create();
  QDir::setCurrent(previous);
  // A test running beside this one may put an updater next to the executable, which is
  // then rightly started; the planted one, or any relative name, never is.
  const QString beside = QDir(QCoreApplication::applicationDirPath()).absoluteFilePath("UpdateApp.exe");
  for (const auto& start : services.started) EXPECT_EQ(start.program, beside);
  EXPECT_TRUE(page->m_hThread.joinable());  // the page goes on without it
}

TEST_F(SnifferPageTest, TrafficReachesLogAndTreeWithThePageNeverShown) {
  script.datagrams = {tools::TcpDatagram({.seq = 1000, .flags = tools::kSyn}),
                      tools::Ipv4Datagram(17, "10.0.0.2", "10.0.0.1", 8),
                      tools::TcpDatagram({.srcPort = 2000, .flags = tools::kAck, .payloadBytes = 5})};
  Create({"10.0.0.1"});
  ASSERT_TRUE(WaitForRows(2));
  EXPECT_FALSE(page->isVisible());
  EXPECT_EQ(monitor_test::Lines(dir.Read("Logger.txt")).size(), 2u);

  const QAbstractItemModel& model = *page->m_tree.model();
  const QModelIndex first = model.index(0, 0);
  EXPECT_EQ(first.data().toString(), "10.0.0.2 - 10.0.0.1");
  EXPECT_EQ(model.index(2, 0, model.index(1, 0, first)).data().toString(),
            "Size:................................... 0");
  EXPECT_EQ(model.index(2, 0, model.index(1, 0, model.index(1, 0))).data().toString(),
            "Size:................................... 5");
  // Nothing is selected or expanded for the user.
  EXPECT_FALSE(page->m_tree.isExpanded(first));
  EXPECT_FALSE(page->m_tree.selectionModel() && page->m_tree.selectionModel()->hasSelection());
  // Three icons, one per level.
  EXPECT_EQ(page->m_imageList.GetImageCount(), 3);
  EXPECT_FALSE(first.data(Qt::DecorationRole).value<QIcon>().isNull());
}

TEST_F(SnifferPageTest, TreeUsesAMonospacedFontOfCellHeightTwelveAndNoTopLevelButtons) {
  Create();
  const QFontMetrics metrics(page->m_tree.font());
  EXPECT_EQ(metrics.horizontalAdvance('i'), metrics.horizontalAdvance('W'))
      << QFontInfo(page->m_tree.font()).family().toStdString();
  EXPECT_LE(metrics.height(), 12);
  EXPECT_GE(metrics.height(), 10);
  EXPECT_FALSE(page->m_tree.rootIsDecorated());
}

TEST_F(SnifferPageTest, EscapeInTheTreeDoesNotHideThePage) {
  Create();
  host.show();
  page->show();
  page->m_tree.setFocus();
  QTest::keyClick(&page->m_tree, Qt::Key_Escape);
  EXPECT_TRUE(page->isVisible());
}

TEST_F(SnifferPageTest, CloseStopsTheCaptureEvenWhileAHandOffWaits) {
  script.datagrams = {tools::TcpDatagram({.flags = tools::kSyn})};
  Create({"10.0.0.1"});
  host.show();
  page->show();
  // The capture thread now waits for the GUI thread, which serves nothing until the close.
  std::this_thread::sleep_for(50ms);
  const auto start = std::chrono::steady_clock::now();
  page->close();
  EXPECT_LT(std::chrono::steady_clock::now() - start, 1s);
  EXPECT_FALSE(page->m_hThread.joinable());
  EXPECT_FALSE(page->isVisible());  // the default close handling hides it
  QCoreApplication::processEvents();
  EXPECT_EQ(page->Model().rowCount(), 0);
}

TEST_F(SnifferPageTest, DestroyingThePageStopsItsCaptureFirst) {
  script.datagrams = {tools::TcpDatagram({.flags = tools::kSyn}), tools::TcpDatagram({.flags = tools::kAck})};
  Create({"10.0.0.1"});
  std::this_thread::sleep_for(50ms);
  delete page;  // must neither hang nor let the capture thread touch freed members
  page = nullptr;
  EXPECT_TRUE(script.woken);
}

// The page's engine and hand-off, with room for only four segments between them.
struct SmallQueue {
  PacketTreeModel model;
  PacketHandoff handoff{model, 4};
};
class SmallQueueMonitor : public SmallQueue, public CTrafficMonitor {
 public:
  explicit SmallQueueMonitor(const std::filesystem::path& logDirectory)
      : CTrafficMonitor(handoff, logDirectory.string()) {
    m_addresses = {"10.0.0.1"};
  }
  ~SmallQueueMonitor() override { StopCapture(); }
  using CTrafficMonitor::m_hThread;
};

TEST(HandoffStopTest, AStopNeverWaitsForABusyGuiThreadAndAddsNothingAfterIt) {
  monitor_test::Script script;
  for (std::uint16_t port = 1; port <= 20; ++port)
    script.datagrams.push_back(tools::TcpDatagram({.srcPort = port, .flags = tools::kSyn}));
  monitor_test::ScriptedCapture scripted(script);
  TempDir dir;
  SmallQueueMonitor monitor(dir.path());
  monitor.StartCapture();
  // Four segments queued, the fifth logged and waiting for room.
  const auto deadline = std::chrono::steady_clock::now() + 5s;
  while (monitor_test::Lines(dir.Read("Logger.txt")).size() < 5 && std::chrono::steady_clock::now() < deadline)
    std::this_thread::sleep_for(1ms);
  ASSERT_EQ(monitor_test::Lines(dir.Read("Logger.txt")).size(), 5u);
  // This thread, the GUI thread, serves nothing until the stop, made on another thread, is done.
  std::thread stopper([&] { monitor.StopCapture(); });
  stopper.join();
  EXPECT_FALSE(monitor.m_hThread.joinable());
  EXPECT_TRUE(script.woken);
  QCoreApplication::processEvents();
  EXPECT_EQ(monitor.model.rowCount(), 0);
}

}  // namespace
