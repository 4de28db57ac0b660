// The real program as a user of the test world runs it, in service mode, driven through its
// pages as a user would. Options first: --capture lets the window capture (through the
// service, in service mode) rather than see no traffic; the others (--firewall=..., --db=...)
// go to the program, whose backend is the service unless one is given. Then the actions,
// each a few arguments; what the window shows is printed:
//   add-port NUMBER tcp|udp NAME   type the port on the ports page and press "Add Port"
//   add-ports FIRST COUNT          the same for COUNT ports from FIRST on, one after another
//   on | off                       click the radio button
//   wait-for FILE                  serve the window until FILE exists (the test restarts the
//                                  service meanwhile)
//   block-until FILE               keep the window's thread busy until FILE exists: the
//                                  capture's hand-off waits, and nothing is read meanwhile
//   show                           print the radio buttons' state and the ports page's rows
//   show-traffic                   print the traffic tree: each segment's text and fields
//   touch FILE                     make FILE: the window runs and watches for blocks
//   notice keep|unblock|later      serve the window until the notice of a blocked program
//                                  shows (at most a minute), print it and click the answer
//   show-programs                  print the programs page's rows
#include <QAbstractItemModel>
#include <QApplication>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QLineEdit>
#include <QTest>
#include <QTimer>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <functional>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "app/brenvo_main.h"
#include "app/firewall_app.h"
#include "app/firewall_dlg.h"
#include "monitor/sniffer_dlg.h"
#include "pages/port_dlg.h"
#include "pages/program_dlg.h"
#include "resources/resource.h"
#include "tests/app/notice_driving.h"
#include "tests/pages/list_rows.h"
#include "tests/support/recording_services.h"
#include "tests/support/silent_capture.h"

namespace {

// Without --capture the window sees no traffic. The program chooses its capture before the
// application starts, so the silent one is put in place at the application's start.
class DriverApp final : public CfirewallApp {
 public:
  BOOL InitInstance() override {
    std::optional<ScopedSilentCapture> silent;
    if (!capture) silent.emplace();
    return CfirewallApp::InitInstance();
  }
  bool capture = false;
};
DriverApp theApp;

void Type(CDialog& page, int id, const QString& text) {
  auto* edit = qobject_cast<QLineEdit*>(page.GetDlgItem(id));
  edit->clear();
  QTest::keyClicks(edit, text);
}

void AddPort(CfirewallDlg& window, const QString& number, const QString& protocol, const QString& name) {
  CPortDlg& ports = *window.m_pPortPage;
  Type(ports, IDC_PORT_NAME, name);
  Type(ports, IDC_PORT_NUMBER, number);
  QTest::mouseClick(ports.GetDlgItem(protocol == "udp" ? IDC_UDP : IDC_TCP), Qt::LeftButton);
  QTest::mouseClick(ports.GetDlgItem(IDC_ADD_PORT), Qt::LeftButton);
}

void Show(CfirewallDlg& window) {
  std::printf("firewall: %s\n", window.IsDlgButtonChecked(IDC_FIREWALL_ON) ? "on" : "off");
  for (const QString& row : ListRows(window.m_pPortPage->m_list)) std::printf("port-row: %s\n", qPrintable(row));
  std::fflush(stdout);
}

// Serves the window until `ready` or a minute has passed; whether it was ready.
bool ServeUntil(const std::function<bool()>& ready) {
  QEventLoop loop;
  QTimer look;
  bool done = ready();
  look.callOnTimeout([&] {
    if ((done = ready())) loop.quit();
  });
  look.start(10);
  QTimer::singleShot(60000, &loop, &QEventLoop::quit);
  if (!done) loop.exec();
  return done;
}

// Serves the window, as its own event loop would, until `file` exists (at most a minute).
void WaitFor(const QString& file) {
  if (!ServeUntil([&file] { return QFileInfo::exists(file); }))
    std::fprintf(stderr, "window_driver: %s never came\n", qPrintable(file));
}

// Waits for the notice, prints "notice: name|path|port|from|count" and answers it.
void AnswerNotice(CfirewallDlg& window, const QString& answer) {
  CBlockedNoticeDlg* notice = window.m_pBlockedNotice;
  if (!notice || !ServeUntil([notice] { return notice->isVisible(); })) {
    std::printf("notice: none\n");
    return;
  }
  std::printf("notice: %s\n", qPrintable(NoticeText(notice)));
  std::fflush(stdout);
  ClickNotice(*notice, answer == "keep" ? IDC_KEEP_BLOCKING : answer == "unblock" ? IDC_UNBLOCK : IDCANCEL);
}

// One line per segment: its text, then the text of each field under its headers.
void ShowTraffic(CfirewallDlg& window) {
  // The capture thread hands the tree what it logged with a queued call: let it arrive.
  QCoreApplication::processEvents();
  const QAbstractItemModel& tree = *window.m_pTrafficPage->m_tree.model();
  for (int segment = 0; segment < tree.rowCount(); ++segment) {
    const QModelIndex root = tree.index(segment, 0);
    QStringList texts{root.data().toString()};
    for (int header = 0; header < tree.rowCount(root); ++header) {
      const QModelIndex fields = tree.index(header, 0, root);
      for (int field = 0; field < tree.rowCount(fields); ++field)
        texts << tree.index(field, 0, fields).data().toString();
    }
    std::printf("tree: %s\n", qPrintable(texts.join(" | ")));
  }
  std::fflush(stdout);
}

void Act(CfirewallDlg& window, const std::vector<QString>& args) {
  for (std::size_t i = 0; i < args.size(); ++i) {
    const QString& action = args[i];
    if (action == "add-port" && i + 3 < args.size()) {
      AddPort(window, args[i + 1], args[i + 2], args[i + 3]);
      i += 3;
    } else if (action == "add-ports" && i + 2 < args.size()) {
      const int first = args[i + 1].toInt(), count = args[i + 2].toInt();
      for (int port = first; port < first + count; ++port)
        AddPort(window, QString::number(port), "tcp", QStringLiteral("port %1").arg(port));
      i += 2;
    } else if (action == "on" || action == "off") {
      QTest::mouseClick(window.GetDlgItem(action == "on" ? IDC_FIREWALL_ON : IDC_FIREWALL_OFF), Qt::LeftButton);
    } else if (action == "wait-for" && i + 1 < args.size()) {
      WaitFor(args[++i]);
    } else if (action == "block-until" && i + 1 < args.size()) {
      const QString file = args[++i];
      while (!QFileInfo::exists(file)) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    } else if (action == "show") {
      Show(window);
    } else if (action == "touch" && i + 1 < args.size()) {
      QFile(args[++i]).open(QIODevice::WriteOnly);
    } else if (action == "notice" && i + 1 < args.size()) {
      AnswerNotice(window, args[++i]);
    } else if (action == "show-programs") {
      for (const QString& row : ListRows(window.m_pProgramPage->m_list))
        std::printf("program-row: %s\n", qPrintable(row));
      std::fflush(stdout);
    } else if (action == "show-traffic") {
      ShowTraffic(window);
    } else {
      std::fprintf(stderr, "window_driver: cannot do %s\n", qPrintable(action));
    }
  }
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> args{"brenvo", "-platform", "offscreen"};
  int first = 1;
  for (; first < argc && std::string(argv[first]).starts_with("--"); ++first) {
    if (std::string(argv[first]) == "--capture")
      theApp.capture = true;
    else
      args.push_back(argv[first]);
  }
  if (std::none_of(args.begin(), args.end(), [](const std::string& arg) { return arg.starts_with("--firewall="); }))
    args.push_back("--firewall=service");
  std::vector<QString> actions;
  for (int i = first; i < argc; ++i) actions.push_back(QString::fromLocal8Bit(argv[i]));
  ScopedRecordingServices services;
  QTimer::singleShot(0, [&actions] {
    auto* window = dynamic_cast<CfirewallDlg*>(QApplication::activeModalWidget());
    if (!window) return;
    Act(*window, actions);
    QTest::mouseClick(window->GetDlgItem(IDCANCEL), Qt::LeftButton);
  });
  std::vector<char*> argvOfProgram;
  for (std::string& arg : args) argvOfProgram.push_back(arg.data());
  const int status = BrenvoMain(int(argvOfProgram.size()), argvOfProgram.data());
  for (const auto& box : services.boxes) std::printf("message-box: %s\n", qPrintable(box.text));
  return status;
}
