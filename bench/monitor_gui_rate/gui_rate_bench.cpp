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
#include "monitor/packet_tree_view.h"
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

namespace {

// The longest pause and the longest wait of a row for the view in each stretch of the tree's
// growth: to 100k, 400k, 1M and 4M rows, and to the end.
class Stretches {
 public:
  struct Stretch {
    std::uint64_t upTo;
    qint64 longestPauseMs = 0;
    qint64 longestInViewMs = 0;
  };

  explicit Stretches(std::uint64_t segments) {
    for (std::uint64_t mark : {100'000ull, 400'000ull, 1'000'000ull, 4'000'000ull})
      if (mark < segments) m_stretches.push_back({mark});
    m_stretches.push_back({segments});
  }
  // The stretch that the tree is in at `rows` rows.
  Stretch& At(std::uint64_t rows) {
    std::size_t at = 0;
    while (at + 1 < m_stretches.size() && rows > m_stretches[at].upTo) ++at;
    return m_stretches[at];
  }
  // Prints each stretch's figures, then the longest of all against the budgets.
  void Print(bool allInView) const {
    qint64 longestPauseMs = 0, longestInViewMs = 0;
    std::uint64_t from = 0;
    for (const Stretch& each : m_stretches) {
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
                allInView ? "" : " (rows never reached the view)");
  }

 private:
  std::vector<Stretch> m_stretches;
};

// The rows of the tree: how many were inserted, and how long each insertion waited for the
// view. Rows arrive only once the event loop runs. The view has taken them in once its scroll
// range covers them: the range's maximum plus a page is the rows it knows.
class RowWatch {
 public:
  RowWatch(PacketTreeView& tree, Stretches& stretches) {
    m_clock.start();
    QAbstractItemModel* model = tree.model();
    // Taken before the insertion, since the view may take the rows in while it is told of them.
    QObject::connect(model, &QAbstractItemModel::rowsAboutToBeInserted,
                     [this](const QModelIndex& parent, int first, int last) {
                       if (!parent.isValid()) m_notInView.push_back({m_shown + last - first + 1, m_clock.elapsed()});
                     });
    QObject::connect(model, &QAbstractItemModel::rowsInserted, [this](const QModelIndex& parent, int first, int last) {
      if (!parent.isValid()) m_shown += last - first + 1;
    });
    QObject::connect(model, &QAbstractItemModel::rowsAboutToBeRemoved,
                     [this](const QModelIndex& parent, int first, int last) {
                       if (!parent.isValid()) m_removed += last - first + 1;
                     });
    QScrollBar* range = tree.verticalScrollBar();
    QObject::connect(range, &QScrollBar::rangeChanged, [this, range, &stretches](int, int maximum) {
      const std::uint64_t known = static_cast<std::uint64_t>(maximum) + range->pageStep();
      // Rows that left the top are counted as shown but no longer in the view's range.
      while (!m_notInView.empty() && m_notInView.front().shown <= known + m_removed) {
        qint64& longest = stretches.At(m_notInView.front().shown).longestInViewMs;
        longest = std::max(longest, m_clock.elapsed() - m_notInView.front().atMs);
        m_notInView.pop_front();
      }
    });
  }
  std::uint64_t Shown() const { return m_shown; }
  bool AllInView() const { return m_notInView.empty(); }

 private:
  struct Insertion {
    std::uint64_t shown;  // rows inserted by then
    qint64 atMs;
  };
  QElapsedTimer m_clock;
  std::uint64_t m_shown = 0;
  std::uint64_t m_removed = 0;
  std::deque<Insertion> m_notInView;
};

}  // namespace

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

  Stretches stretches(segments);

  const RowWatch watch(page->m_tree, stretches);
  // Ends once the view took in every row, or two seconds after the model had them all.
  double seconds = 0;
  QTimer poll;
  QObject::connect(&poll, &QTimer::timeout, [&] {
    if (seconds == 0 && watch.Shown() >= segments) seconds = clock.nsecsElapsed() / 1e9;
    if ((seconds != 0 && (watch.AllInView() || clock.nsecsElapsed() / 1e9 > seconds + 2)) ||
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
      qint64& longest = stretches.At(watch.Shown()).longestPauseMs;
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

  const double rate = watch.Shown() / seconds;
  std::printf(
      "live GUI rate: %llu segments through the capture thread and the hand-off into the "
      "shown tree (%d rows at the end) in %.2f s: %.0f segments/s  budget >= 50000: %s\n",
      static_cast<unsigned long long>(watch.Shown()), rows, seconds, rate,
      rate >= 50000 && watch.Shown() == segments ? "met" : "MISSED");
  stretches.Print(watch.AllInView());
  return watch.Shown() == segments ? 0 : 1;
}
