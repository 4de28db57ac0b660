// Filling the check-box list of a page with 10,000 program rows through the operations the
// pages use (InsertItem, SetCellCheck and both SetItemText forms), once with the page
// hidden and once shown (offscreen), then scrolling through the filled list.
// Budgets: filling 0.3 s or less hidden, 1 s or less shown; scrolling without stalls.
//
// usage: controls_list_bench [rows [runs]]
#include <time.h>
#include <QApplication>
#include <QElapsedTimer>
#include <QScrollBar>
#include <QTest>

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "tests/controls/list_page.h"

namespace {

struct Figures {
  double fill;    // seconds to fill
  double settle;  // seconds until the filled list is painted
};

Figures FillOnce(int rows, bool shown) {
  ListPage page;
  if (shown) {
    if (!QTest::qWaitForWindowExposed(&page)) std::exit(1);
  } else {
    page.hide();
  }
  QApplication::processEvents();
  std::vector<std::string> paths;
  paths.reserve(size_t(rows));
  for (int i = 0; i < rows; ++i) paths.push_back("/usr/lib/program-" + std::to_string(i) + "/bin/program");

  QElapsedTimer clock;
  clock.start();
  for (int i = 0; i < rows; ++i) page.AddRow(i % 3 != 0, "Program", paths[size_t(i)].c_str());
  const double fill = clock.nsecsElapsed() / 1e9;
  QApplication::processEvents();
  return {fill, clock.nsecsElapsed() / 1e9 - fill};
}

double Median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  return values[values.size() / 2];
}

void ReportFill(const char* label, int rows, int runs, bool shown, double budget) {
  std::vector<double> fills, settles;
  for (int run = 0; run < runs; ++run) {
    const Figures figures = FillOnce(rows, shown);
    fills.push_back(figures.fill);
    settles.push_back(figures.settle);
  }
  const double median = Median(fills);
  std::printf("fill %-7s %6d rows: median %.3f s, best %.3f s (budget %.1f s: %s); first paint after it %.1f ms\n",
              label, rows, median, *std::min_element(fills.begin(), fills.end()), budget,
              median <= budget ? "met" : "MISSED", Median(settles) * 1e3);
}

double ThreadSeconds() {
  timespec now{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
  return double(now.tv_sec) + double(now.tv_nsec) / 1e9;
}

// Scrolls the shown, filled list one row at a time and one page at a time, painting each
// position. The processor time of the GUI thread shows the work; the elapsed time also
// shows whatever else the machine was doing.
void ReportScroll(int rows) {
  ListPage page;
  if (!QTest::qWaitForWindowExposed(&page)) std::exit(1);
  for (int i = 0; i < rows; ++i) page.AddRow(i % 3 != 0, "Program", "/usr/lib/program/bin/program");
  QApplication::processEvents();
  QScrollBar* bar = page.m_list.verticalScrollBar();

  for (int step : {1, bar->pageStep()}) {
    std::vector<double> elapsed, work;
    for (int value = 0; value <= bar->maximum(); value += step) {
      QElapsedTimer clock;
      clock.start();
      const double start = ThreadSeconds();
      bar->setValue(value);
      page.m_list.viewport()->repaint();
      work.push_back((ThreadSeconds() - start) * 1e3);
      elapsed.push_back(clock.nsecsElapsed() / 1e6);
    }
    const auto summary = [](std::vector<double> ms) {
      std::sort(ms.begin(), ms.end());
      return std::array{ms[ms.size() / 2], ms[ms.size() * 99 / 100], ms.back()};
    };
    const auto w = summary(work);
    const auto e = summary(elapsed);
    std::printf(
        "scroll by %-2d rows, %5zu positions, ms per position (median / 99th / slowest): "
        "processor %.2f / %.2f / %.2f, elapsed %.2f / %.2f / %.2f\n",
        step, work.size(), w[0], w[1], w[2], e[0], e[1], e[2]);
  }
}

}  // namespace

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication application(argc, argv);
  const int rows = argc > 1 ? std::atoi(argv[1]) : 10'000;
  const int runs = argc > 2 ? std::atoi(argv[2]) : 5;
  ReportFill("hidden", rows, runs, false, 0.3);
  ReportFill("shown", rows, runs, true, 1.0);
  ReportScroll(rows);
  return 0;
}
