// brenvo-traffic-shot: renders the "View Traffic" page offscreen with the traffic of a few
// synthetic connections, some of it expanded, and saves it as a PNG.
//
// usage: brenvo-traffic-shot OUT.png [width height]
#include "monitor/sniffer_dlg.h"
#include "resources/resource.h"
#include "tools/synthetic_traffic.h"

#include <unistd.h>

#include <QApplication>
#include <QElapsedTimer>

#include <cstdio>
#include <cstdlib>
#include <filesystem>

int main(int argc, char** argv) {
  namespace fs = std::filesystem;
  if (argc < 2 || argv[1][0] == '-') {
    std::fprintf(stderr, "usage: brenvo-traffic-shot OUT.png [width height]\n");
    return 2;
  }
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  const int width = argc > 3 ? std::atoi(argv[2]) : 497;
  const int height = argc > 3 ? std::atoi(argv[3]) : 229;

  std::string pattern = (fs::temp_directory_path() / "brenvo-shot-XXXXXX").string();
  if (::mkdtemp(pattern.data()) == nullptr) return 1;
  const fs::path dir = pattern;
  constexpr int kSegments = 48;
  const std::string file = (dir / "traffic.pcap").string();
  if (!tools::WriteTrafficCapture(file, kSegments, 4, tools::CaptureWriter::Format::Pcap)) return 1;
  CTrafficMonitor::SetCaptureFile(file);

  QWidget host;
  host.resize(width, height);
  auto* page = new CSnifferDlg(&host, dir.string());
  page->Create(IDD_SNIFFER_PAGE, &host);
  page->resize(width, height);
  page->m_tree.resize(width, height);
  host.show();
  page->show();
  QElapsedTimer clock;
  clock.start();
  const QAbstractItemModel& model = *page->m_tree.model();
  while (model.rowCount() < kSegments && clock.elapsed() < 10'000)
    QCoreApplication::processEvents(QEventLoop::AllEvents, 10);

  // Open the first SYN with both headers, and the TCP header of the SYN-ACK after it.
  const QModelIndex syn = model.index(0, 0);
  page->m_tree.expand(syn);
  page->m_tree.expand(model.index(0, 0, syn));
  page->m_tree.expand(model.index(1, 0, syn));
  const QModelIndex synAck = model.index(4, 0);
  page->m_tree.expand(synAck);
  page->m_tree.expand(model.index(1, 0, synAck));
  clock.restart();
  while (clock.elapsed() < 300) QCoreApplication::processEvents(QEventLoop::AllEvents, 10);

  const bool saved = page->grab().save(QString::fromLocal8Bit(argv[1]));
  delete page;
  CTrafficMonitor::SetCaptureFile("");
  fs::remove_all(dir);
  return saved ? 0 : 1;
}
