// Live GUI rate: a capture file fed through the traffic page's real capture thread and its
// hand-off into the tree, with the page and its tree shown (offscreen).
// Budget: 50,000 segments/s or more. With max-segments below segments, the oldest rows leave
// the tree as it fills, and the view lays itself out again after each removal.
// Also the longest the GUI thread stayed away from its event loop meanwhile: queued rows
// wait at most that long for the model, and a click for an answer. Budget: 50 ms. And the
// longest a row that reached the model waited until the view took it into its scroll range
// (rows in view). Both are printed for each stretch of the tree's growth (to 100k, 400k, 1M
// and 4M rows), since a view whose layout grows with the rows falls behind as the tree grows.
//
// usage: monitor_gui_rate_bench [segments [connections [max-segments]]]
#include "monitor/sniffer_dlg.h"
#include "resources/resource.h"
#include "tools/synthetic_traffic.h"

#include <unistd.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QScrollBar>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <filesystem>
#include <vector>

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

  // Figures per stretch of growth, printed as the tree passes each mark.
  struct Stretch {
    std::uint64_t upTo;
    qint64 longestPauseMs = 0;
    qint64 longestInViewMs = 0;
  };
  std::vector<Stretch> stretches;
  for (std::uint64_t mark : {100'000ull, 400'000ull, 1'000'000ull, 4'000'000ull}) {
    if (mark < segments) stretches.push_back({mark});
  }
  stretches.push_back({segments});
  const auto stretchOf = [&](std::uint64_t rows) {
    std::size_t at = 0;
    while (at + 1 < stretches.size() && rows > stretches[at].upTo) ++at;
    return at;
  };

  // Rows arrive only once the event loop runs. The view has taken them in once its scroll
  // range covers them: the range's maximum plus a page is the rows it knows.
  QElapsedTimer wallClock;
  wallClock.start();
  std::uint64_t shown = 0;
  struct Insertion {
    std::uint64_t shown;  // rows inserted by then
    qint64 atMs;
  };
  std::deque<Insertion> notInView;
  // Taken before the insertion, since the view may take the rows in while it is told of them.
  QObject::connect(page->m_tree.model(), &QAbstractItemModel::rowsAboutToBeInserted,
                   [&](const QModelIndex& parent, int first, int last) {
                     if (!parent.isValid()) notInView.push_back({shown + last - first + 1, wallClock.elapsed()});
                   });
  QObject::connect(page->m_tree.model(), &QAbstractItemModel::rowsInserted,
                   [&](const QModelIndex& parent, int first, int last) {
                     if (!parent.isValid()) shown += last - first + 1;
                   });
  std::uint64_t removed = 0;
  QObject::connect(page->m_tree.model(), &QAbstractItemModel::rowsAboutToBeRemoved,
                   [&](const QModelIndex& parent, int first, int last) {
                     if (!parent.isValid()) removed += last - first + 1;
                   });
  QScrollBar* rangeBar = page->m_tree.verticalScrollBar();
  QObject::connect(rangeBar, &QScrollBar::rangeChanged, [&](int, int maximum) {
    const std::uint64_t known = static_cast<std::uint64_t>(maximum) + rangeBar->pageStep();
    // Rows that left the top are counted in `shown` but no longer in the view's range.
    while (!notInView.empty() && notInView.front().shown <= known + removed) {
      qint64& longest = stretches[stretchOf(notInView.front().shown)].longestInViewMs;
      longest = std::max(longest, wallClock.elapsed() - notInView.front().atMs);
      notInView.pop_front();
    }
  });
  // Ends once the view took in every row, or two seconds after the model had them all.
  double seconds = 0;
  QTimer poll;
  QObject::connect(&poll, &QTimer::timeout, [&] {
    if (seconds == 0 && shown >= segments) seconds = clock.nsecsElapsed() / 1e9;
    if ((seconds != 0 && (notInView.empty() || clock.nsecsElapsed() / 1e9 > seconds + 2)) ||
        clock.elapsed() > 600'000) {
      if (seconds == 0) seconds = clock.nsecsElapsed() / 1e9;
      app.quit();
    }
  });
  poll.start(20);
  constexpr qint64 kTickMs = 5;
  QElapsedTimer sinceTick;
  QTimer tick;
  tick.setTimerType(Qt::PreciseTimer);
  QObject::connect(&tick, &QTimer::timeout, [&] {
    if (sinceTick.isValid()) {
      qint64& longest = stretches[stretchOf(shown)].longestPauseMs;
      longest = std::max(longest, sinceTick.elapsed() - kTickMs);
    }
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
  qint64 longestPauseMs = 0, longestInViewMs = 0;
  std::uint64_t from = 0;
  for (const Stretch& each : stretches) {
    std::printf(
        "rows %llu to %llu: longest pause of the GUI thread's event loop %lld ms, longest wait of a "
        "row for the view %lld ms\n",
        static_cast<unsigned long long>(from), static_cast<unsigned long long>(each.upTo),
        static_cast<long long>(each.longestPauseMs), static_cast<long long>(each.longestInViewMs));
    longestPauseMs = std::max(longestPauseMs, each.longestPauseMs);
    longestInViewMs = std::max(longestInViewMs, each.longestInViewMs);
    from = each.upTo;
  }
  std::printf("longest pause of the GUI thread's event loop: %lld ms  budget <= 50: %s\n",
              static_cast<long long>(longestPauseMs), longestPauseMs <= 50 ? "met" : "MISSED");
  std::printf("longest wait of a row for the view: %lld ms  budget <= 50: %s%s\n",
              static_cast<long long>(longestInViewMs), longestInViewMs <= 50 ? "met" : "MISSED",
              notInView.empty() ? "" : " (rows never reached the view)");
  return shown == segments ? 0 : 1;
}
