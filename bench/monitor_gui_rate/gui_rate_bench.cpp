// Live GUI rate: a capture file fed through the traffic page's real capture thread and its
// hand-off into the tree, with the page and its tree shown (offscreen).
// Budget: 50,000 segments/s or more. With max-segments below segments, the oldest rows leave
// the tree as it fills, and the view lays itself out again after each removal.
// Also the longest the GUI thread stayed away from its event loop meanwhile: queued rows
// wait at most that long for the model, and a click for an answer. Budget: 50 ms.
//
// usage: monitor_gui_rate_bench [segments [connections [max-segments]]]
#include "monitor/sniffer_dlg.h"
#include "resources/resource.h"
#include "tools/synthetic_traffic.h"

#include <unistd.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>

int main(int argc, char** argv) {
  namespace fs = std::filesystem;
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  const std::uint64_t segments = argc > 1 ? std::strtoull(argv[1], nullptr, 10) : 1'000'000;
  const std::uint32_t connections = argc > 2 ? static_cast<std::uint32_t>(std::strtoul(argv[2], nullptr, 10)) : 10'000;

  std::string pattern = (fs::temp_directory_path() / "brenvo-bench-XXXXXX").string();
  if (::mkdtemp(pattern.data()) == nullptr) return 1;
  const fs::path dir = pattern;
  const std::string file = (dir / "traffic.pcap").string();
  if (!tools::WriteTrafficCapture(file, segments, connections, tools::CaptureWriter::Format::Pcap)) return 1;
  CTrafficMonitor::SetCaptureFile(file);
  if (argc > 3) CSnifferDlg::SetMaxSegments(std::strtoull(argv[3], nullptr, 10));

  QWidget host;
  host.resize(497, 229);
  host.show();
  QElapsedTimer clock;
  clock.start();
  auto* page = new CSnifferDlg(&host, dir.string());
  if (!page->Create(IDD_SNIFFER_PAGE, &host)) return 1;
  page->show();

  // Rows arrive only once the event loop runs.
  std::uint64_t shown = 0;
  QObject::connect(page->m_tree.model(), &QAbstractItemModel::rowsInserted,
                   [&](const QModelIndex&, int first, int last) { shown += last - first + 1; });
  double seconds = 0;
  QTimer poll;
  QObject::connect(&poll, &QTimer::timeout, [&] {
    if (shown >= segments || clock.elapsed() > 600'000) {
      seconds = clock.nsecsElapsed() / 1e9;
      app.quit();
    }
  });
  poll.start(20);
  constexpr qint64 kTickMs = 5;
  qint64 longestPauseMs = 0;
  QElapsedTimer sinceTick;
  QTimer tick;
  tick.setTimerType(Qt::PreciseTimer);
  QObject::connect(&tick, &QTimer::timeout, [&] {
    if (sinceTick.isValid()) longestPauseMs = std::max(longestPauseMs, sinceTick.elapsed() - kTickMs);
    sinceTick.start();
  });
  tick.start(kTickMs);
  app.exec();
  const int rows = page->m_tree.model()->rowCount();
  delete page;
  CTrafficMonitor::SetCaptureFile("");
  fs::remove_all(dir);

  const double rate = shown / seconds;
  std::printf(
      "live GUI rate: %llu segments through the capture thread and the hand-off into the "
      "shown tree (%d rows at the end) in %.2f s: %.0f segments/s  budget >= 50000: %s\n",
      static_cast<unsigned long long>(shown), rows, seconds, rate,
      rate >= 50000 && shown == segments ? "met" : "MISSED");
  std::printf("longest pause of the GUI thread's event loop: %lld ms  budget <= 50: %s\n",
              static_cast<long long>(longestPauseMs), longestPauseMs <= 50 ? "met" : "MISSED");
  return shown == segments ? 0 : 1;
}
